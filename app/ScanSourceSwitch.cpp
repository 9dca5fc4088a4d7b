#include "app/ScanSourceSwitch.h"

namespace ketrion {

void ScanSourceSwitch::Use(source::ScanSource& source) {
    // onScan and onEvent are set before the first start and never change
    // while a source runs: the forwarders read them then.
    source.onScan = [this](const source::ScanResult& result) {
        if (onScan)
            onScan(result);
    };
    source.onEvent = [this](const source::SourceEvent& event) {
        if (onEvent)
            onEvent(event);
    };
    m_current = &source;
}

}  // namespace ketrion
