#include "dataaccess/DAError.h"

namespace kv::dataaccess {

EDAError::EDAError(std::int32_t ErrorCode, std::string Message)
    : Exception(std::move(Message)), FErrorCode(ErrorCode) {}

EDAError::EDAError(const EDAError& Other)
    : Exception(Other), TObject(), FErrorCode(Other.FErrorCode), FComponent(Other.FComponent) {}

EDAError::~EDAError() = default;

bool EDAError::IsFatal() const {
    return false;
}

bool EDAError::IsDuplicateKey() const {
    return false;
}

std::unique_ptr<EDAError> EDAError::Clone() const {
    return std::make_unique<EDAError>(*this);
}

void EDAError::Raise() const {
    throw EDAError(*this);
}

EFailOver::EFailOver(TConnLostCause Cause) : Exception("Fail over"), FCause(Cause) {}

} // namespace kv::dataaccess
