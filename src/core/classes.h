// The framework's persistent-object and component bases that the library's
// classes hang from: Assign/AssignTo, ownership of components, design state.
#pragma once

#include <string>
#include <vector>

namespace lum {

// An object that can copy its state from another (Assign). A class that
// cannot take a source raises the conversion error.
class TPersistent {
public:
    virtual ~TPersistent() = default;

    // Copies Source into this object; the base hands the work to
    // Source->AssignTo and fails when neither side knows the other.
    virtual void Assign(const TPersistent* source);
    // The class name, as the framework's messages show it ("TLumBevel").
    std::string ClassName() const;

protected:
    virtual void AssignTo(TPersistent* dest) const;
    // Raises the conversion error "Cannot assign a <source> to a <this>".
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

// A component: optionally owned by another, which destroys it; has a name
// and a design-time state.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* GetOwner() const { return owner_; }
    const std::string& GetName() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    int GetComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* GetComponents(int index) const;
    bool Designing() const { return designing_; }

protected:
    void SetDesigning(bool value) { designing_ = value; }

private:
    void Insert(TComponent* c) { components_.push_back(c); }
    void Remove(TComponent* c);

    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    bool designing_ = false;
};

} // namespace lum
