#include "toolkit/DB.h"

#include "toolkit/Component.h"

void DatabaseError(const std::string& Message, TComponent* Component) {
    if (Component != nullptr && !Component->Name().empty())
        throw EDatabaseError(Component->Name() + ": " + Message);
    throw EDatabaseError(Message);
}
