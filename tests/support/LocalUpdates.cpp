// Linked into every driver test: update checks of the driver's windows ask a loopback port where
// nothing listens, so that no test sends a request or a name lookup off this machine.
#include <runtime/SysTrayWnd.h>

namespace {

const UpdateServer kNowhere = {L"127.0.0.1", 9};

struct LocalUpdates {
    LocalUpdates() { SetUpdateServerForTests(&kNowhere); }
} gLocalUpdates;

}  // namespace
