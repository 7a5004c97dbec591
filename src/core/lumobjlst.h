// The library's object containers and object streaming.
//
// TObjectList holds object references (at most 32767) with optional
// ownership, change events bracketed by BeginUpdate/EndUpdate, and a stream
// format of its own: the signature "OBJ\0", the owns-objects byte, a 16-bit
// count and one object record an item. TSortedObjectList keeps its items
// in the order of a key and writes its duplicates rule after the signature.
//
// An object record is the class name (a length byte and at most 63
// characters) followed by what the class's store procedure writes. Only
// classes entered in the registry (DoRegisterClass) can be written, read,
// copied and passed through the clipboard; every class needs a default
// constructor, which reading uses before the load procedure fills the
// object in. Register from start-up code, before any reading.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "core/classes.h"
#include "core/streams.h"
#include "platform/base/wintypes.h"

namespace lum {

// A class as the registry knows it: its type and how to make an empty one.
struct TPersistentClass {
    const std::type_info* Type = nullptr;
    TPersistent* (*Create)() = nullptr;
};

template <class T>
TPersistentClass ClassOf() {
    static_assert(std::is_base_of_v<TPersistent, T>, "registered classes are persistent");
    return {&typeid(T), []() -> TPersistent* { return new T(); }};
}

// The name a class is written under: its C++ name without namespaces, as
// TPersistent::ClassName gives it.
std::string ClassNameOf(const std::type_info& type);

using TLoadProc = std::function<void(TPersistent* object, TStream& stream)>;
using TStoreProc = std::function<void(const TPersistent* object, TStream& stream)>;

struct TRegisterRec {
    TPersistentClass AClass;
    TLoadProc LoadProc;
    TStoreProc StoreProc;
};

// Longest class name an object record can carry.
constexpr std::size_t kMaxStreamClassName = 63;

// Enters AClass under its name. A name already present (in any letter case)
// keeps its first registration. A name longer than 63 characters is refused
// with an exception: its records could never be read back.
void DoRegisterClass(TLoadProc load_proc, TStoreProc store_proc, const TPersistentClass& a_class);
bool IsRegistered(const TPersistentClass& a_class);

// Writes Object's record. "Nil Source Class!" for null, "Source Class <%s>
// not registered" (EClassNotFound) for a class not in the registry.
void WriteObjectToStream(const TPersistent* object, TStream& stream);
// Reads one record and makes its object. "Class <%s> not registered"
// (EClassNotFound) for an unknown name; stream errors when the record runs
// past the stream's end. A load procedure that raises takes the half-made
// object with it.
std::unique_ptr<TPersistent> ReadObjectFromStream(TStream& stream);
// A new object made from Object's record. "Nil Source Class!" for null.
std::unique_ptr<TPersistent> CopyOf(const TPersistent* object);

// The clipboard format registered under Name.
platform::UINT RegisterClipBoardType(const std::string& name);
// Puts Object's record on the clipboard under Format; false when the
// clipboard refuses it. The caller opens the clipboard (and usually
// empties it) before and closes it after.
bool CopyObjectToClipboard(platform::UINT format, const TPersistent* object);
// The object on the clipboard under Format, or null when there is none.
// The data is read within its own bounds, whoever put it there.
std::unique_ptr<TPersistent> PasteObjectFromClipboard(platform::UINT format);

// The signature that opens a list stream.
inline constexpr char STREAMKENNUNG[4] = {'O', 'B', 'J', '\0'};

enum TDuplicates : std::uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class TObjectList;
using TObjectListEvent = std::function<void(TObjectList* sender)>;

class TObjectList : public TPersistent {
public:
    // The most items a list holds: its count is a signed 16-bit value.
    static constexpr int MaxCount = 32767;

    TObjectList();
    TObjectList(bool owns_objects, int capacity);
    // Loads the list from a file (LoadFromFile).
    explicit TObjectList(const std::string& file_name);
    ~TObjectList() override;

    // Changing fires as the outermost BeginUpdate opens, Changed as the
    // matching EndUpdate closes; events inside are swallowed.
    void BeginUpdate();
    void EndUpdate();

    int GetCount() const { return count_; }
    int GetCapacity() const { return static_cast<int>(items_.size()); }
    bool GetOwnsObjects() const { return owns_objects_; }
    void SetOwnsObjects(bool value) { owns_objects_ = value; }

    // Index outside 0 .. Count - 1: the list error.
    virtual TPersistent* Get(int index) const;
    // Replaces an item without change events; the old object is not freed.
    virtual void Put(int index, TPersistent* object);
    TPersistent* First() const { return Get(0); }
    TPersistent* Last() const { return Get(count_ - 1); }

    // Inserts at Index (0 .. Count) and returns where the object went.
    virtual int Insert(int index, TPersistent* object);
    virtual int AddObject(TPersistent* object);
    // Adds every item of List in one update.
    virtual void AddObjects(const TObjectList& list);
    // Takes an item out of the list without freeing it.
    void Delete(int index);
    // Deletes Object itself (not an equal one); its former index or -1.
    int Remove(TPersistent* object);
    // Frees the item (when the list owns its objects) and deletes it.
    void FreeAt(int index);
    // FreeAt for Object itself; "TObject %s not in item list" when it is
    // not in the list.
    void FreeObject(TPersistent* object);
    virtual int IndexOf(TPersistent* object) const;
    void Exchange(int index1, int index2);
    // Delete plus Insert, each with its own events; nothing when equal.
    void Move(int cur_index, int new_index);
    // Deletes every null item.
    void Pack();

    void SetCapacity(int capacity);
    // Null items fill a longer list; a shorter one drops references.
    void SetCount(int count);

    // Forgets every item without freeing it; events only when not empty.
    virtual void Clear();
    void DeleteAll() { Clear(); }
    // Frees every item (when the list owns its objects), then Clear.
    virtual void FreeAll();

    // Replaces the items with those of a list stream, in one update. A
    // stream without the signature leaves the items as they were ("Invalid
    // Object stream"); a stream that breaks off later keeps the objects
    // read so far.
    virtual void ReadData(TStream& stream);
    virtual void WriteData(TStream& stream) const;
    void SaveToFile(const std::string& file_name) const;
    // Any failure becomes "Unable to load Object stream".
    void LoadFromFile(const std::string& file_name);

    TObjectListEvent OnChange;
    TObjectListEvent OnChanging;

protected:
    virtual void Changed();
    virtual void Changing();
    // Raises the list error for Index; must not return.
    [[noreturn]] virtual void Error(long index) const;
    virtual void Grow();
    // Destroys Object when the list owns its objects.
    virtual void FreeItem(TPersistent* object);
    virtual void SetUpdateState(bool updating);

    // Checks the signature; raises "Invalid Object stream" without it.
    static void ReadSignature(TStream& stream);
    // The owns-objects byte, the count and the objects, added through
    // AddObject.
    void ReadItems(TStream& stream);
    void WriteItems(TStream& stream) const;
    // Index of Object itself; -1 when absent.
    virtual int IndexOfReference(TPersistent* object) const;

private:
    bool owns_objects_ = true;
    std::vector<TPersistent*> items_; // sized to the capacity
    int count_ = 0;
    int update_count_ = 0;
};

// A list kept in the order of its items' keys (KeyOf, Compare). Put is
// refused; Insert ignores the index it is given.
class TSortedObjectList : public TObjectList {
public:
    explicit TSortedObjectList(TDuplicates duplicates = dupIgnore);

    TDuplicates GetDuplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates value) { duplicates_ = value; }

    // The key of an object: the object itself unless overridden.
    virtual const void* KeyOf(const TPersistent* object) const { return object; }
    // Negative, zero or positive as Key1 sorts before, with or after Key2.
    virtual int Compare(const void* key1, const void* key2) const = 0;
    // Binary search for Key. True when found; Index is then the match (the
    // first of equal keys under dupAccept), else the insertion point.
    virtual bool Search(const void* key, int& index) const;

    void Put(int index, TPersistent* object) override;
    // When the key exists: dupIgnore inserts nothing and returns -1,
    // dupError raises "Duplicate Object index", dupAccept inserts before the
    // equal keys.
    int Insert(int index, TPersistent* object) override;
    // Inserts and returns IndexOf: under dupIgnore with the key present
    // that is the existing item's index, and Object was not taken.
    int AddObject(TPersistent* object) override;
    // The index of an item with Object's key; -1 when there is none.
    int IndexOf(TPersistent* object) const override;

    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) const override;

protected:
    int IndexOfReference(TPersistent* object) const override;

private:
    TDuplicates duplicates_;
};

// A stream over a memory block it does not own, of fixed size. Reading or
// writing past the end raises instead of moving fewer bytes. Seek from the
// end (origin 2) counts backwards: Size - Offset. A seek outside 0 .. Size
// raises and leaves the position where it was sent.
class TAbsMemStream : public TStream {
public:
    TAbsMemStream(void* memory, std::int64_t size);

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetSize() override { return size_; }
    // Where the stream stands, also after a refused seek.
    std::int64_t GetPosition() override { return position_; }
    void* GetMemory() const { return memory_; }

private:
    void* memory_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

} // namespace lum
