#include "store/Cp1251.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace {

class TIconv
{
public:
    TIconv(const char* to, const char* from)
        : m_cd(iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv: no conversion from ") + from + " to " + to);
    }
    ~TIconv() { iconv_close(m_cd); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // Converts the whole input; a sequence that cannot be converted is replaced by
    // `replacement` and skipped by `skip` input bytes (from the failing position).
    template <typename SkipFn>
    std::string Convert(std::string_view input, std::string_view replacement, SkipFn skip)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(input.size() * 2 + 4);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, outPtr - buffer);
            if (rc != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (truncated sequence at the end): replace and move on.
            out.append(replacement);
            const size_t n = std::min(inLeft, skip(std::string_view(in, inLeft)));
            in += n;
            inLeft -= n;
        }
        return out;
    }

private:
    iconv_t m_cd;
};

// Length of the UTF-8 sequence starting at s[0]; 1 for a byte that starts none.
size_t Utf8SequenceLength(std::string_view s)
{
    const auto lead = static_cast<unsigned char>(s[0]);
    size_t n = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4;
    if (n > s.size())
        return 1;
    for (size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 1;
    return n;
}

} // namespace

std::string Utf8ToCp1251(std::string_view utf8)
{
    thread_local TIconv conv("WINDOWS-1251", "UTF-8");
    return conv.Convert(utf8, "?", Utf8SequenceLength);
}

std::string Cp1251ToUtf8(std::string_view cp1251)
{
    thread_local TIconv conv("UTF-8", "WINDOWS-1251");
    return conv.Convert(cp1251, "\xEF\xBF\xBD", [](std::string_view) { return size_t{1}; });
}
