#include "services/Cp932.h"

#include <QList>
#include <QString>

#include <cerrno>
#include <iconv.h>

namespace dm {
namespace {

// iconv_open is costly next to a file name's conversion; one descriptor per
// thread is kept for the life of the thread.
class Converter {
public:
    Converter() : m_cd(iconv_open("CP932", "UTF-32LE")) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    [[nodiscard]] bool valid() const
    {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): (iconv_t)-1 is iconv's documented failure value.
        return m_cd != reinterpret_cast<iconv_t>(-1);
    }

    // Converts one code point; false when CP932 has no byte sequence for it.
    bool convert(char32_t cp, QByteArray& out)
    {
        char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                      static_cast<char>((cp >> 16) & 0xFF), static_cast<char>((cp >> 24) & 0xFF)};
        char buf[8];
        char* inPtr = in;
        size_t inLeft = sizeof in;
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
            return false;
        out.append(buf, static_cast<qsizetype>(outPtr - buf));
        return true;
    }

private:
    iconv_t m_cd;
};

} // namespace

QByteArray toCp932(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        for (const QChar c : text)
            out.append(static_cast<char>(c.unicode()));
        return out;
    }

    thread_local Converter converter;
    for (const char32_t cp : text.toUcs4()) {
        if (cp < 0x80) {
            out.append(static_cast<char>(cp));
        } else if (!converter.valid() || !converter.convert(cp, out)) {
            out.append('?');
        }
    }
    return out;
}

} // namespace dm
