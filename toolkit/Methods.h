// Event handlers named in streams ("OnClick = KapatBTNClick").
//
// A root component (a form) answers TComponent::MethodAddress(name) with the handler as a
// std::any holding the event's exact std::function type. MethodTable keeps such a table:
//
//   class TForm1 : public TForm {
//       kv::toolkit::MethodTable FMethods;
//   public:
//       TForm1(TComponent* Owner) : TForm(Owner) {
//           FMethods.Add("KapatBTNClick", kv::toolkit::Handler(this, &TForm1::KapatBTNClick));
//           ...
//       }
//       std::any MethodAddress(const std::string& Name) const override {
//           return FMethods.Find(Name);
//       }
//   };
//
// Handler(obj, &Class::Method) makes the std::function whose signature is the method's
// (void(TObject*) gives a TNotifyEvent).
#pragma once

#include <any>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kv::toolkit {

template <class C, class R, class... A>
std::function<R(A...)> Handler(C* Object, R (C::*Method)(A...)) {
    return [Object, Method](A... args) -> R { return (Object->*Method)(std::forward<A>(args)...); };
}

class MethodTable {
public:
    void Add(std::string Name, std::any Handler) {
        FEntries.emplace_back(std::move(Name), std::move(Handler));
    }
    // The handler named Name (ignoring case), or an empty std::any.
    std::any Find(const std::string& Name) const;
    const std::vector<std::pair<std::string, std::any>>& Entries() const { return FEntries; }

private:
    std::vector<std::pair<std::string, std::any>> FEntries;
};

} // namespace kv::toolkit
