#include "KsAudRenPin.h"

CKsAudRenPin::CKsAudRenPin(CKsAudFilter& filter, ULONG pinId, HRESULT& result)
    : CKsAudPin(filter, pinId, KsPinType::Render, result)
{
}
