#include "KsAudCapPin.h"

CKsAudCapPin::CKsAudCapPin(CKsAudFilter& filter, ULONG pinId, HRESULT& result)
    : CKsAudPin(filter, pinId, KsPinType::Capture, result)
{
}
