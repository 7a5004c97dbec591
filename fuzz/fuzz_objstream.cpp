// Fuzzes the object stream readers over a fixed memory block, as pasted
// data reaches them: the first byte picks ReadObjectFromStream, a plain
// list's ReadData or a sorted list's; the rest is the stream. Two classes
// are registered, a point and a node that holds a nested list, so records
// inside records are read too. Whatever reads cleanly must write and read
// back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/lumobjlst.h"

using namespace lum;

namespace {

class TFuzzPoint : public TPersistent {
public:
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

class TFuzzNode : public TPersistent {
public:
    std::string Text;
    TObjectList Children;
};

// Nesting the fuzzer may build; deeper input is refused by the load.
thread_local int depth = 0;
constexpr int kMaxDepth = 6;

const bool registered = [] {
    DoRegisterClass(
        [](TPersistent* o, TStream& s) {
            auto* p = static_cast<TFuzzPoint*>(o);
            s.ReadBuffer(&p->X, 4);
            s.ReadBuffer(&p->Y, 4);
        },
        [](const TPersistent* o, TStream& s) {
            auto* p = static_cast<const TFuzzPoint*>(o);
            s.WriteBuffer(&p->X, 4);
            s.WriteBuffer(&p->Y, 4);
        },
        ClassOf<TFuzzPoint>());
    DoRegisterClass(
        [](TPersistent* o, TStream& s) {
            auto* n = static_cast<TFuzzNode*>(o);
            std::uint8_t length = 0;
            s.ReadBuffer(&length, 1);
            n->Text.resize(length);
            s.ReadBuffer(n->Text.data(), length);
            if (depth >= kMaxDepth) throw EStreamError("too deep");
            ++depth;
            try {
                n->Children.ReadData(s);
            } catch (...) {
                --depth;
                n->Children.SetOwnsObjects(true);
                throw;
            }
            --depth;
            // The children are ours, whatever the stream's byte said.
            n->Children.SetOwnsObjects(true);
        },
        [](const TPersistent* o, TStream& s) {
            auto* n = static_cast<const TFuzzNode*>(o);
            auto length = static_cast<std::uint8_t>(n->Text.size());
            s.WriteBuffer(&length, 1);
            s.WriteBuffer(n->Text.data(), length);
            n->Children.WriteData(s);
        },
        ClassOf<TFuzzNode>());
    return true;
}();

// Sorted by the point's X, or by a node's text length.
class TFuzzSorted : public TSortedObjectList {
public:
    const void* KeyOf(const TPersistent* object) const override { return object; }
    int Compare(const void* key1, const void* key2) const override {
        std::int64_t a = Key(static_cast<const TPersistent*>(key1));
        std::int64_t b = Key(static_cast<const TPersistent*>(key2));
        return a < b ? -1 : a > b ? 1 : 0;
    }

private:
    static std::int64_t Key(const TPersistent* o) {
        if (auto* p = dynamic_cast<const TFuzzPoint*>(o)) return p->X;
        return static_cast<const TFuzzNode*>(o)->Text.size();
    }
};

std::string Bytes(TMemoryStream& s) {
    return std::string(static_cast<const char*>(s.GetMemory()),
                       static_cast<std::size_t>(s.GetSize()));
}

// Writes what Read made, reads that back and writes again; a sorted list
// turns runs of equal keys round on each read, so two rounds come back to
// the first bytes.
template <class Write, class Read>
void CheckRoundTrip(Write write, Read read) {
    TMemoryStream first;
    write(first);
    std::string expected = Bytes(first);
    std::string current = expected;
    for (int round = 0; round < 2; ++round) {
        TAbsMemStream in(current.data(), static_cast<std::int64_t>(current.size()));
        TMemoryStream out;
        try {
            read(in, out);
        } catch (const Exception&) {
            std::abort(); // what we wrote ourselves must read back
        }
        if (in.GetPosition() != static_cast<std::int64_t>(current.size())) std::abort();
        current = Bytes(out);
    }
    if (current != expected) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    int mode = data[0] % 3;
    std::string copy(reinterpret_cast<const char*>(data + 1), size - 1);
    TAbsMemStream stream(copy.data(), static_cast<std::int64_t>(copy.size()));
    depth = 0;
    // The objects a list reads are ours to free, also when reading fails
    // half-way and whatever the stream's owns-objects byte said.
    TObjectList list;
    TFuzzSorted sorted;
    try {
        if (mode == 0) {
            std::unique_ptr<TPersistent> object = ReadObjectFromStream(stream);
            CheckRoundTrip([&](TStream& s) { WriteObjectToStream(object.get(), s); },
                           [](TStream& in, TStream& out) {
                               auto again = ReadObjectFromStream(in);
                               WriteObjectToStream(again.get(), out);
                           });
        } else if (mode == 1) {
            list.ReadData(stream);
            list.SetOwnsObjects(true);
            CheckRoundTrip([&](TStream& s) { list.WriteData(s); },
                           [](TStream& in, TStream& out) {
                               TObjectList again;
                               again.ReadData(in);
                               again.SetOwnsObjects(true);
                               again.WriteData(out);
                           });
        } else {
            sorted.ReadData(stream);
            sorted.SetOwnsObjects(true);
            CheckRoundTrip([&](TStream& s) { sorted.WriteData(s); },
                           [](TStream& in, TStream& out) {
                               TFuzzSorted again;
                               again.ReadData(in);
                               again.SetOwnsObjects(true);
                               again.WriteData(out);
                           });
        }
    } catch (const Exception&) {
        // Refused input.
    }
    list.SetOwnsObjects(true);
    sorted.SetOwnsObjects(true);
    return 0;
}
