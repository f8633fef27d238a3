#include "operations/CodePage.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kc {

QChar localCharOf(std::uint8_t byte)
{
#ifdef Q_OS_WIN
    if (byte >= 0x80) {
        const char in = char(byte);
        wchar_t out = 0;
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1)
            return QChar(char16_t(out));
    }
#endif
    return QChar(char16_t(byte));
}

} // namespace kc
