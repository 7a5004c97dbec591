#include "core/lumobjlst.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cxxabi.h>
#include <limits>
#include <mutex>
#include <new>
#include <optional>

#include "platform/base/exception.h"
#include "platform/base/globalmem.h"
#include "platform/ui/clipboard.h"

namespace lum {
namespace {

const char kInvalidStream[] = "Invalid Object stream";
const char kNilSource[] = "Nil Source Class!";

bool NameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool NameEqual(const std::string& a, const std::string& b) {
    return !NameLess(a, b) && !NameLess(b, a);
}

// Class name to record, sorted by name without regard to letter case.
struct Registry {
    std::mutex mutex;
    std::vector<std::pair<std::string, TRegisterRec>> records;

    // A copy, so that the procedures run outside the lock and may stream
    // further objects.
    std::optional<std::pair<std::string, TRegisterRec>> ByType(const std::type_info& type) {
        std::lock_guard lock(mutex);
        for (const auto& entry : records)
            if (*entry.second.AClass.Type == type) return entry;
        return std::nullopt;
    }
    std::optional<TRegisterRec> ByName(const std::string& name) {
        std::lock_guard lock(mutex);
        auto at = std::lower_bound(
            records.begin(), records.end(), name,
            [](const auto& entry, const std::string& n) { return NameLess(entry.first, n); });
        if (at == records.end() || !NameEqual(at->first, name)) return std::nullopt;
        return at->second;
    }
};

// Built on first use, so that registration from start-up code of other
// units does not depend on the order in which they start.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::uint8_t ReadByte(TStream& stream) {
    std::uint8_t b;
    stream.ReadBuffer(&b, 1);
    return b;
}

// Closes the clipboard however the paste ends.
struct ClipboardBracket {
    bool open = platform::ui::OpenClipboard();
    ~ClipboardBracket() {
        if (open) platform::ui::CloseClipboard();
    }
};

} // namespace

std::string ClassNameOf(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
    auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

void DoRegisterClass(TLoadProc load_proc, TStoreProc store_proc, const TPersistentClass& a_class) {
    if (a_class.Type == nullptr || a_class.Create == nullptr)
        throw EClassNotFound("Class to register is missing");
    std::string name = ClassNameOf(*a_class.Type);
    if (name.size() > kMaxStreamClassName)
        throw EClassNotFound("Class name <" + name + "> is longer than " +
                             std::to_string(kMaxStreamClassName) + " characters");
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto at = std::lower_bound(
        r.records.begin(), r.records.end(), name,
        [](const auto& entry, const std::string& n) { return NameLess(entry.first, n); });
    if (at != r.records.end() && NameEqual(at->first, name)) return;
    r.records.insert(at,
                     {name, TRegisterRec{a_class, std::move(load_proc), std::move(store_proc)}});
}

bool IsRegistered(const TPersistentClass& a_class) {
    return a_class.Type != nullptr && TheRegistry().ByType(*a_class.Type).has_value();
}

void WriteObjectToStream(const TPersistent* object, TStream& stream) {
    if (object == nullptr) throw EClassNotFound(kNilSource);
    auto entry = TheRegistry().ByType(typeid(*object));
    if (!entry) throw EClassNotFound("Source Class <" + object->ClassName() + "> not registered");
    const std::string& name = entry->first;
    auto length = static_cast<std::uint8_t>(name.size());
    stream.WriteBuffer(&length, 1);
    stream.WriteBuffer(name.data(), length);
    if (entry->second.StoreProc) entry->second.StoreProc(object, stream);
}

std::unique_ptr<TPersistent> ReadObjectFromStream(TStream& stream) {
    std::uint8_t length = ReadByte(stream);
    std::string name(length, '\0');
    stream.ReadBuffer(name.data(), length);
    auto record = TheRegistry().ByName(name);
    if (!record) throw EClassNotFound("Class <" + name + "> not registered");
    std::unique_ptr<TPersistent> object(record->AClass.Create());
    if (record->LoadProc) record->LoadProc(object.get(), stream);
    return object;
}

std::unique_ptr<TPersistent> CopyOf(const TPersistent* object) {
    if (object == nullptr) throw EClassNotFound(kNilSource);
    TMemoryStream stream;
    WriteObjectToStream(object, stream);
    stream.SetPosition(0);
    return ReadObjectFromStream(stream);
}

platform::UINT RegisterClipBoardType(const std::string& name) {
    return platform::ui::RegisterClipboardFormat(name);
}

bool CopyObjectToClipboard(platform::UINT format, const TPersistent* object) {
    TMemoryStream stream;
    WriteObjectToStream(object, stream);
    auto size = static_cast<std::size_t>(stream.GetSize());
    platform::HGLOBAL block = platform::GlobalAlloc(platform::GHND, size);
    if (block == nullptr) throw EOutOfMemory("Not enough memory to copy object to clipboard");
    if (size != 0) std::memcpy(platform::GlobalLock(block), stream.GetMemory(), size);
    platform::GlobalUnlock(block);
    if (platform::ui::SetClipboardData(format, block) == nullptr) {
        platform::GlobalFree(block);
        return false;
    }
    return true;
}

std::unique_ptr<TPersistent> PasteObjectFromClipboard(platform::UINT format) {
    if (!platform::ui::IsClipboardFormatAvailable(format)) return nullptr;
    ClipboardBracket bracket;
    platform::HGLOBAL block = platform::ui::GetClipboardData(format);
    if (block == nullptr) return nullptr;
    // The data may come from another program: the stream ends where the
    // block does.
    TAbsMemStream stream(platform::GlobalLock(block),
                         static_cast<std::int64_t>(platform::GlobalSize(block)));
    struct Unlock {
        platform::HGLOBAL b;
        ~Unlock() { platform::GlobalUnlock(b); }
    } unlock{block};
    return ReadObjectFromStream(stream);
}

// ---------------------------------------------------------------------------
// TObjectList

TObjectList::TObjectList() = default;

TObjectList::TObjectList(bool owns_objects, int capacity) : owns_objects_(owns_objects) {
    SetCapacity(capacity);
}

TObjectList::TObjectList(const std::string& file_name) {
    LoadFromFile(file_name);
}

TObjectList::~TObjectList() {
    OnChange = nullptr;
    OnChanging = nullptr;
    FreeAll();
}

void TObjectList::BeginUpdate() {
    if (update_count_ == 0) SetUpdateState(true);
    ++update_count_;
}

void TObjectList::EndUpdate() {
    --update_count_;
    if (update_count_ == 0) SetUpdateState(false);
}

void TObjectList::SetUpdateState(bool updating) {
    if (updating)
        Changing();
    else
        Changed();
}

void TObjectList::Changed() {
    if (update_count_ == 0 && OnChange) OnChange(this);
}

void TObjectList::Changing() {
    if (update_count_ == 0 && OnChanging) OnChanging(this);
}

void TObjectList::Error(long index) const {
    throw EListError::IndexOutOfBounds(index);
}

void TObjectList::Grow() {
    int capacity = GetCapacity();
    int delta = capacity > 8 ? 16 : capacity > 4 ? 8 : 4;
    int grown = std::min(capacity + delta, MaxCount);
    if (grown <= count_) Error(count_);
    SetCapacity(grown);
}

TPersistent* TObjectList::Get(int index) const {
    if (index < 0 || index >= count_) Error(index);
    return items_[static_cast<std::size_t>(index)];
}

void TObjectList::Put(int index, TPersistent* object) {
    if (index < 0 || index >= count_) Error(index);
    items_[static_cast<std::size_t>(index)] = object;
}

int TObjectList::Insert(int index, TPersistent* object) {
    if (index < 0 || index > count_) Error(index);
    if (count_ == MaxCount) Error(count_);
    Changing();
    if (count_ == GetCapacity()) Grow();
    auto at = items_.begin() + index;
    std::move_backward(at, items_.begin() + count_, items_.begin() + count_ + 1);
    *at = object;
    ++count_;
    Changed();
    return index;
}

int TObjectList::AddObject(TPersistent* object) {
    return Insert(count_, object);
}

void TObjectList::AddObjects(const TObjectList& list) {
    // A list added to itself adds the items it had when the call began.
    std::vector<TPersistent*> items(list.items_.begin(), list.items_.begin() + list.count_);
    BeginUpdate();
    try {
        for (TPersistent* item : items)
            AddObject(item);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TObjectList::Delete(int index) {
    if (index < 0 || index >= count_) Error(index);
    Changing();
    std::move(items_.begin() + index + 1, items_.begin() + count_, items_.begin() + index);
    --count_;
    items_[static_cast<std::size_t>(count_)] = nullptr;
    Changed();
}

int TObjectList::Remove(TPersistent* object) {
    int index = IndexOfReference(object);
    if (index >= 0) Delete(index);
    return index;
}

void TObjectList::FreeAt(int index) {
    TPersistent* object = Get(index);
    // Out of the list before it goes, so no handler sees a freed item.
    Delete(index);
    FreeItem(object);
}

void TObjectList::FreeObject(TPersistent* object) {
    int index = IndexOfReference(object);
    if (index < 0)
        throw EListError("TObject " + (object ? object->ClassName() : std::string("nil")) +
                         " not in item list");
    FreeAt(index);
}

int TObjectList::IndexOf(TPersistent* object) const {
    return IndexOfReference(object);
}

int TObjectList::IndexOfReference(TPersistent* object) const {
    auto end = items_.begin() + count_;
    auto at = std::find(items_.begin(), end, object);
    return at == end ? -1 : static_cast<int>(at - items_.begin());
}

void TObjectList::Exchange(int index1, int index2) {
    if (index1 < 0 || index1 >= count_) Error(index1);
    if (index2 < 0 || index2 >= count_) Error(index2);
    Changing();
    std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
    Changed();
}

void TObjectList::Move(int cur_index, int new_index) {
    if (cur_index == new_index) return;
    // Both checked first, so a bad target does not drop the item.
    if (cur_index < 0 || cur_index >= count_) Error(cur_index);
    if (new_index < 0 || new_index >= count_) Error(new_index);
    TPersistent* object = items_[static_cast<std::size_t>(cur_index)];
    Delete(cur_index);
    TObjectList::Insert(new_index, object);
}

void TObjectList::Pack() {
    for (int i = count_ - 1; i >= 0; --i)
        if (items_[static_cast<std::size_t>(i)] == nullptr) Delete(i);
}

void TObjectList::SetCapacity(int capacity) {
    if (capacity < count_ || capacity > MaxCount) Error(capacity);
    bool shrink = capacity < GetCapacity();
    items_.resize(static_cast<std::size_t>(capacity), nullptr);
    if (shrink) items_.shrink_to_fit();
}

void TObjectList::SetCount(int count) {
    if (count < 0 || count > MaxCount) Error(count);
    if (count > GetCapacity()) SetCapacity(count);
    if (count > count_)
        std::fill(items_.begin() + count_, items_.begin() + count, nullptr);
    else
        std::fill(items_.begin() + count, items_.begin() + count_, nullptr);
    count_ = count;
}

void TObjectList::Clear() {
    bool had_items = count_ != 0;
    if (had_items) Changing();
    count_ = 0;
    items_.clear();
    items_.shrink_to_fit();
    if (had_items) Changed();
}

void TObjectList::FreeAll() {
    for (int i = 0; i < count_; ++i) {
        TPersistent*& slot = items_[static_cast<std::size_t>(i)];
        TPersistent* object = slot;
        slot = nullptr;
        FreeItem(object);
    }
    Clear();
}

void TObjectList::FreeItem(TPersistent* object) {
    if (owns_objects_) delete object;
}

void TObjectList::ReadSignature(TStream& stream) {
    // A stream too short for the signature is no object stream either, on
    // streams that raise at their end as well as on those that read short.
    char signature[4];
    if (stream.GetSize() - stream.GetPosition() < 4 || stream.Read(signature, 4) != 4 ||
        std::memcmp(signature, STREAMKENNUNG, 4) != 0)
        throw EStreamError(kInvalidStream);
}

void TObjectList::ReadItems(TStream& stream) {
    owns_objects_ = ReadByte(stream) != 0;
    std::uint8_t bytes[2];
    stream.ReadBuffer(bytes, 2);
    auto count = static_cast<std::int16_t>(bytes[0] | (bytes[1] << 8));
    if (count < 0) throw EStreamError(kInvalidStream);
    if (count > GetCapacity()) SetCapacity(count);
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<TPersistent> object = ReadObjectFromStream(stream);
        // A sorted list that ignores a duplicate leaves the object with us.
        if (Insert(count_, object.get()) >= 0) object.release();
    }
}

void TObjectList::WriteItems(TStream& stream) const {
    std::uint8_t owns = owns_objects_ ? 1 : 0;
    stream.WriteBuffer(&owns, 1);
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>(count_ & 0xFF),
                             static_cast<std::uint8_t>(count_ >> 8)};
    stream.WriteBuffer(bytes, 2);
    for (int i = 0; i < count_; ++i)
        WriteObjectToStream(items_[static_cast<std::size_t>(i)], stream);
}

void TObjectList::ReadData(TStream& stream) {
    BeginUpdate();
    try {
        ReadSignature(stream);
        FreeAll();
        ReadItems(stream);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TObjectList::WriteData(TStream& stream) const {
    stream.WriteBuffer(STREAMKENNUNG, 4);
    WriteItems(stream);
}

void TObjectList::SaveToFile(const std::string& file_name) const {
    TFileStream file(file_name, fmCreate);
    WriteData(file);
}

void TObjectList::LoadFromFile(const std::string& file_name) {
    try {
        TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
        ReadData(file);
    } catch (const std::exception&) {
        throw EStreamError("Unable to load Object stream");
    }
}

// ---------------------------------------------------------------------------
// TSortedObjectList

TSortedObjectList::TSortedObjectList(TDuplicates duplicates) : duplicates_(duplicates) {}

bool TSortedObjectList::Search(const void* key, int& index) const {
    bool found = false;
    int low = 0;
    int high = GetCount() - 1;
    while (low <= high) {
        int i = (low + high) >> 1;
        int c = Compare(KeyOf(Get(i)), key);
        if (c < 0) {
            low = i + 1;
        } else {
            high = i - 1;
            if (c == 0) {
                found = true;
                if (duplicates_ != dupAccept) low = i;
            }
        }
    }
    index = low;
    return found;
}

void TSortedObjectList::Put(int, TPersistent*) {
    throw EListError("Cannot <Put> an Object in a sorted list!");
}

int TSortedObjectList::Insert(int, TPersistent* object) {
    int index;
    if (Search(KeyOf(object), index)) {
        if (duplicates_ == dupIgnore) return -1;
        if (duplicates_ == dupError) throw EListError("Duplicate Object index");
    }
    return TObjectList::Insert(index, object);
}

int TSortedObjectList::AddObject(TPersistent* object) {
    Insert(0, object);
    return IndexOf(object);
}

int TSortedObjectList::IndexOf(TPersistent* object) const {
    int index;
    return Search(KeyOf(object), index) ? index : -1;
}

int TSortedObjectList::IndexOfReference(TPersistent* object) const {
    return TObjectList::IndexOfReference(object);
}

void TSortedObjectList::ReadData(TStream& stream) {
    BeginUpdate();
    try {
        ReadSignature(stream);
        std::uint8_t duplicates = ReadByte(stream);
        if (duplicates > dupError) throw EStreamError(kInvalidStream);
        FreeAll();
        duplicates_ = static_cast<TDuplicates>(duplicates);
        ReadItems(stream);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TSortedObjectList::WriteData(TStream& stream) const {
    stream.WriteBuffer(STREAMKENNUNG, 4);
    std::uint8_t duplicates = duplicates_;
    stream.WriteBuffer(&duplicates, 1);
    WriteItems(stream);
}

// ---------------------------------------------------------------------------
// TAbsMemStream

TAbsMemStream::TAbsMemStream(void* memory, std::int64_t size) : memory_(memory), size_(size) {
    if (size < 0 || (memory == nullptr && size != 0))
        throw EStreamError("MemStream has no memory of that size");
}

std::int32_t TAbsMemStream::Read(void* buffer, std::int32_t count) {
    if (position_ < 0 || count < 0) return 0;
    if (size_ - position_ < count) throw EStreamError("MemStream reading behond limits");
    if (count != 0)
        std::memcpy(buffer, static_cast<const std::byte*>(memory_) + position_,
                    static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

std::int32_t TAbsMemStream::Write(const void* buffer, std::int32_t count) {
    if (position_ < 0 || count < 0) return 0;
    if (size_ - position_ < count) throw EStreamError("MemStream writing behond limits");
    if (count != 0)
        std::memcpy(static_cast<std::byte*>(memory_) + position_, buffer,
                    static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

std::int64_t TAbsMemStream::Seek(std::int64_t offset, int origin) {
    std::int64_t target;
    bool overflow;
    switch (origin) {
    case soFromBeginning:
        target = offset;
        overflow = false;
        break;
    case soFromCurrent:
        overflow = __builtin_add_overflow(position_, offset, &target);
        break;
    case soFromEnd:
        overflow = __builtin_sub_overflow(size_, offset, &target);
        break;
    default:
        throw EStreamError("Invalid stream seek origin " + std::to_string(origin));
    }
    if (overflow) throw EStreamError("MemStream seeking behond limits");
    position_ = target;
    if (position_ < 0 || position_ > size_) throw EStreamError("MemStream seeking behond limits");
    return position_;
}

} // namespace lum
