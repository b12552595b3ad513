// Scripted faults of register accesses and of configuration page lengths.
#include <algorithm>

#include "expander/expander_node.h"
#include "expander/scsi_reply.h"
#include "images/le_bytes.h"

namespace qemu::expander {

bool ExpanderNode::registerFault(uint32_t address, size_t length, bool write, ScsiResult* r) {
    for (RegisterFault& f : config_.faults.registerFaults) {
        const bool covers = f.address >= address && f.address - address < length;
        const bool access = f.access < 0 || f.access == (write ? 1 : 0);
        if (covers && access && f.hits.due()) {
            if (f.skip > 0) {
                --f.skip;
                continue;
            }
            f.hits.consume();
            checkCondition(r, f.senseKey, f.asc, f.ascq);
            noteFault("failRegister");
            return true;
        }
    }
    return false;
}

void ExpanderNode::applyPageLength(uint16_t number, uint8_t region,
                                   std::vector<uint8_t>* page) const {
    for (const PageLengthFault& f : config_.faults.pageLengths) {
        if (f.page == number && (f.region < 0 || f.region == region)) {
            // The length field stays readable even for a length below it.
            page->resize(std::max<size_t>(f.length, 4), 0);
            bytes::putLe16(page->data(), f.length);
            return;
        }
    }
}

}  // namespace qemu::expander
