// The live link's once-said notices.
#include "module/link/LinkNotices.h"

namespace tabro {

LinkNotices& linkNotices() {
    static LinkNotices notices;
    return notices;
}

void forgetLinkNotices() { linkNotices() = LinkNotices(); }

}  // namespace tabro
