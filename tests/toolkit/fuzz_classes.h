// Registered classes for the fuzz targets: a component with a property of each kind, so that
// the reader's property paths run as well as the format parsers.
#pragma once

void registerFuzzClasses();
