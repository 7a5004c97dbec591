// Registry persistence of Lumutils: settings as typed values and records
// as binary values, one key opened and closed per call.
#include <cstring>
#include <limits>
#include <vector>

#include "core/lumutils.h"
#include "platform/base/exception.h"

namespace lum {
namespace {

namespace reg = platform::registry;
using platform::BYTE;
using platform::DWORD;
using platform::LONG;

HKEY EffectiveRoot(HKEY root) {
    return reg::IsPredefinedKey(root) ? root : reg::HKEY_CURRENT_USER;
}

// An open key, closed on scope exit.
class Key {
public:
    ~Key() {
        if (h_) reg::RegCloseKey(h_);
    }
    bool Create(HKEY root, const std::string& path) {
        return reg::RegCreateKeyEx(EffectiveRoot(root), path, 0, reg::KEY_ALL_ACCESS, &h_) ==
               reg::ERROR_SUCCESS;
    }
    bool Open(HKEY root, const std::string& path) {
        return reg::RegOpenKeyEx(EffectiveRoot(root), path, 0, reg::KEY_READ, &h_) ==
               reg::ERROR_SUCCESS;
    }
    HKEY Handle() const { return h_; }

private:
    HKEY h_ = 0;
};

void Write(const Key& k, const std::string& name, DWORD type, const void* data, std::size_t size) {
    if (reg::RegSetValueEx(k.Handle(), name, 0, type, static_cast<const BYTE*>(data),
                           static_cast<DWORD>(size)) != reg::ERROR_SUCCESS)
        throw ERegistryException::WriteFailed(name);
}

void WriteDword(const Key& k, const std::string& name, std::int32_t v) {
    Write(k, name, reg::REG_DWORD, &v, sizeof v);
}

template <class T>
void WriteBinary8(const Key& k, const std::string& name, T v) {
    static_assert(sizeof(T) == 8);
    Write(k, name, reg::REG_BINARY, &v, sizeof v);
}

// A stored value with its kind; false when it does not exist.
bool Read(const Key& k, const std::string& name, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    LONG rc = reg::RegQueryValueEx(k.Handle(), name, nullptr, type, nullptr, &size);
    if (rc == reg::ERROR_FILE_NOT_FOUND) return false;
    if (rc != reg::ERROR_SUCCESS) throw ERegistryException::ReadFailed(name);
    // The value may change between the two calls; take what is there then.
    for (;;) {
        data->resize(size);
        rc = reg::RegQueryValueEx(k.Handle(), name, nullptr, type, data->data(), &size);
        if (rc == reg::ERROR_MORE_DATA) continue;
        if (rc == reg::ERROR_FILE_NOT_FOUND) return false;
        if (rc != reg::ERROR_SUCCESS) throw ERegistryException::ReadFailed(name);
        data->resize(size);
        return true;
    }
}

std::int32_t AsDword(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    if (type != reg::REG_DWORD || data.size() != 4) throw ERegistryException::ReadFailed(name);
    std::int32_t v;
    std::memcpy(&v, data.data(), 4);
    return v;
}

template <class T>
T AsBinary8(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    if (type != reg::REG_BINARY || data.size() != 8) throw ERegistryException::ReadFailed(name);
    T v;
    std::memcpy(&v, data.data(), 8);
    return v;
}

std::string AsString(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    constexpr DWORD kExpandSz = 2;
    if (type != reg::REG_SZ && type != kExpandSz) throw ERegistryException::ReadFailed(name);
    std::string s(data.begin(), data.end());
    std::size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

template <class T>
T Narrow(const std::string& name, std::int32_t v) {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
        throw ERegistryException::ReadFailed(name);
    return static_cast<T>(v);
}

std::string ToUtf8(const std::wstring& w) {
    std::string out;
    for (wchar_t wc : w) {
        auto c = static_cast<char32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Invalid sequences become U+FFFD.
std::wstring FromUtf8(const std::string& s) {
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80                ? 0
                    : b >= 0xF0 && b < 0xF5 ? 3
                    : b >= 0xE0 && b < 0xF0 ? 2
                    : b >= 0xC2 && b < 0xE0 ? 1
                                            : -1;
        char32_t c = extra <= 0 ? b : b & (0x3F >> extra);
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            auto cb = static_cast<unsigned char>(s[i + k]);
            ok = (cb & 0xC0) == 0x80;
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok) {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += 1 + static_cast<std::size_t>(extra);
    }
    return out;
}

} // namespace

void SaveInRegistry(HKEY root, const std::string& key, const std::string& name,
                    const TLumVariant& value) {
    Key k;
    if (!k.Create(root, key)) throw ERegistryException::WriteFailed(name);
    struct Writer {
        const Key& k;
        const std::string& name;
        void operator()(std::monostate) const {}
        void operator()(TVarNull) const {
            throw EConvertError("Could not convert variant of type (Null) into type (Integer)");
        }
        void operator()(std::int16_t v) const { WriteDword(k, name, v); }
        void operator()(std::int32_t v) const { WriteDword(k, name, v); }
        void operator()(std::uint8_t v) const { WriteDword(k, name, v); }
        void operator()(float v) const { WriteBinary8(k, name, static_cast<double>(v)); }
        void operator()(double v) const { WriteBinary8(k, name, v); }
        void operator()(TCurrency v) const { WriteBinary8(k, name, v.Scaled); }
        void operator()(TDateTime v) const { WriteBinary8(k, name, v.Value); }
        void operator()(const std::string& v) const {
            Write(k, name, reg::REG_SZ, v.c_str(), v.size() + 1);
        }
        void operator()(const std::wstring& v) const { (*this)(ToUtf8(v)); }
        void operator()(bool v) const { WriteDword(k, name, v ? 1 : 0); }
    };
    std::visit(Writer{k, name}, value);
}

TLumVariant GetFromRegistry(HKEY root, const std::string& key, const std::string& name,
                            const TLumVariant& def) {
    // Kinds that select no reading leave the default as it is.
    if (std::holds_alternative<std::monostate>(def)) return def;
    Key k;
    if (!k.Open(root, key)) return def;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Read(k, name, &type, &data)) return def;
    struct Reader {
        const std::string& name;
        DWORD type;
        const std::vector<BYTE>& data;
        TLumVariant operator()(std::monostate) const { return std::monostate{}; }
        // A null default reads as an integer, the kind a null would be
        // written as if it could be.
        TLumVariant operator()(TVarNull) const { return AsDword(name, type, data); }
        TLumVariant operator()(std::int16_t) const {
            return Narrow<std::int16_t>(name, AsDword(name, type, data));
        }
        TLumVariant operator()(std::int32_t) const { return AsDword(name, type, data); }
        TLumVariant operator()(std::uint8_t) const {
            return Narrow<std::uint8_t>(name, AsDword(name, type, data));
        }
        TLumVariant operator()(float) const {
            return static_cast<float>(AsBinary8<double>(name, type, data));
        }
        TLumVariant operator()(double) const { return AsBinary8<double>(name, type, data); }
        TLumVariant operator()(TCurrency) const {
            return TCurrency{AsBinary8<std::int64_t>(name, type, data)};
        }
        TLumVariant operator()(TDateTime) const {
            return TDateTime{AsBinary8<double>(name, type, data)};
        }
        TLumVariant operator()(const std::string&) const { return AsString(name, type, data); }
        TLumVariant operator()(const std::wstring&) const {
            return FromUtf8(AsString(name, type, data));
        }
        TLumVariant operator()(bool) const { return AsDword(name, type, data) != 0; }
    };
    return std::visit(Reader{name, type, data}, def);
}

void SaveInRegistryBinary(HKEY root, const std::string& key, const std::string& name,
                          const void* buffer, std::int32_t size) {
    if (size <= 0) return;
    Key k;
    if (!k.Create(root, key)) throw ERegistryException::WriteFailed(name);
    Write(k, name, reg::REG_BINARY, buffer, static_cast<std::size_t>(size));
}

std::int32_t GetFromRegistryBinary(HKEY root, const std::string& key, const std::string& name,
                                   void* buffer, std::int32_t size) {
    Key k;
    if (!k.Open(root, key)) return 0;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Read(k, name, &type, &data)) return 0;
    auto stored = static_cast<std::int32_t>(data.size());
    if (size == 0) return stored;
    if ((type != reg::REG_BINARY && type != reg::REG_NONE) || stored > size ||
        (buffer == nullptr && stored > 0))
        throw ERegistryException::ReadFailed(name);
    if (stored > 0) std::memcpy(buffer, data.data(), data.size());
    return stored;
}

} // namespace lum
