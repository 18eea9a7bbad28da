// CKsAudCapPin: an audio pin that gives data out as a sink, the one a capture stream reads from.
#pragma once

#include "KsAudPin.h"

class CKsAudCapPin final : public CKsAudPin {
public:
    CKsAudCapPin(CKsAudFilter& filter, ULONG pinId, HRESULT& result);
};
