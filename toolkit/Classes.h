// The toolkit's core classes in one include: TObject, TPersistent (toolkit/Persistent.h),
// TComponent (toolkit/Component.h), TStrings/TStringList (toolkit/Strings.h),
// TCollection/TCollectionItem (toolkit/Collection.h), the exceptions (toolkit/SysUtils.h),
// component streams (toolkit/Filer.h, toolkit/ObjectText.h) and the class registry with
// published properties (toolkit/TypInfo.h).
#pragma once

#include "toolkit/Collection.h"
#include "toolkit/Component.h"
#include "toolkit/Filer.h"
#include "toolkit/Persistent.h"
#include "toolkit/Strings.h"
#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"
