// CKsAudRenPin: an audio pin that takes data in as a sink, the one a render stream writes to.
#pragma once

#include "KsAudPin.h"

class CKsAudRenPin final : public CKsAudPin {
public:
    CKsAudRenPin(CKsAudFilter& filter, ULONG pinId, HRESULT& result);
};
