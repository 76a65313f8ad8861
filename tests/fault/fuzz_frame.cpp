#include "catalogframe.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// Any bytes a peer may send as one frame.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    CatalogFrame frame;
    QString error;
    if (frame.parse(text, &error)) {
        (void)frame.action();
        const QString again = CatalogFrame::compose(frame.actionText(), frame.packages());
        CatalogFrame reparsed;
        if (!reparsed.parse(again, &error) || reparsed.packages().size() != frame.packages().size())
            __builtin_trap();
    }
    return 0;
}
