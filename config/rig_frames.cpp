// A rig meter's frames beyond its records: compact frames between full
// ones, and a radio converter that carries its telegrams.
#include "config/rig_reader.h"

namespace vdx {

// compact = { every = 8 } (a full frame, then seven compact ones) or
// compact = { after = 1 } (one full frame, compact ever after);
// converter = "ADDRESS" (16 hexadecimal digits, device type 0x37 as a
// radio converter's): it needs the long header, which carries the meter's
// own address.
void RigReader::frames(const TableKeys& k, SimMeter* m) {
    if (const toml::node* n = k.get("compact")) {
        const toml::table& t = table(*n);
        allowKeys(t, {"every", "after"});
        const toml::node* every = t.get("every");
        const toml::node* after = t.get("after");
        if ((every == nullptr) == (after == nullptr))
            fail(*n, "compact takes one of every (a full frame every N telegrams) and after (N full frames first)");
        if (every != nullptr) m->compactEvery = static_cast<uint32_t>(whole(*every, 2, 0xFFFFFFFF, "compact every"));
        if (after != nullptr) m->compactAfter = static_cast<uint32_t>(whole(*after, 1, 0xFFFFFFFF, "compact after"));
    }
    const toml::node* converter = k.get("converter");
    if (converter == nullptr) return;
    hex(*converter, kAddressSize, m->converter, "converter");
    m->viaConverter = true;
    if (m->security == Security::EllCtr)
        fail(*converter,
             "a converter does not go with security = \"ell-ctr\": the extended link layer's encryption is the "
             "link layer's, the converter's");
    const toml::node* header = k.get("header");
    if (header != nullptr && m->header != HeaderForm::Long)
        fail(*header,
             "a meter behind a converter needs header = \"long\": the long header carries the meter's own address "
             "(the link layer the converter's)");
    m->header = HeaderForm::Long;
}

}  // namespace vdx
