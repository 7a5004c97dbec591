// The folder browser's tree: a few virtual places over a QFileSystemModel.
// The tree has one top item, the root: the Desktop (with the file system,
// Network, Printers and Control Panel under it), a folder, or a virtual
// place. File-system rows are the source model's own, mapped one to one,
// so its lazy loading, sorting and watching reach the view unchanged.
#pragma once

#include <QAbstractProxyModel>
#include <QPersistentModelIndex>
#include <memory>
#include <vector>

#include "platform/ui/shellbrowse.h"

class QFileSystemModel;

namespace lum::platform::ui {

class NamespaceModel : public QAbstractProxyModel {
public:
    // Flags: BIF_BROWSEINCLUDEFILES shows files, BIF_SHOWHIDDEN hidden
    // entries. Root null is the whole namespace.
    NamespaceModel(const ITEMIDLIST* root, UINT flags, QObject* parent = nullptr);
    ~NamespaceModel() override;

    // The tree index of Item, loading the folders on its way; invalid when
    // it is not under the root or does not exist.
    QModelIndex IndexOf(const ITEMIDLIST& item);
    // The item at Index; null for an invalid index.
    PIDL ItemAt(const QModelIndex& index) const;
    // The top item of the tree.
    QModelIndex RootIndex() const;

    bool ShowsHidden() const;
    void SetShowHidden(bool show);
    QFileSystemModel* FileSystem() const { return fs_; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QModelIndex mapToSource(const QModelIndex& proxy) const override;
    QModelIndex mapFromSource(const QModelIndex& source) const override;

private:
    struct Node {
        explicit Node(ShellItemKind k) : kind(k) {}
        ShellItemKind kind;
        Node* parent = nullptr;
        std::vector<Node*> children;
    };

    Node* NodeOf(const QModelIndex& index) const;
    Node* NodeOfKind(ShellItemKind kind) const;
    QModelIndex IndexOfNode(Node* node) const;
    // Rows of the file system ahead of Node's virtual children.
    int SourceRowsBefore(const Node* node) const;
    // The tree index standing for a source parent, and whether the parent
    // is shown at all.
    bool MapParent(const QModelIndex& sourceParent, QModelIndex& proxyParent) const;
    bool IsUnderRoot(const QModelIndex& source) const;
    bool RemovesRoot(const QModelIndex& sourceParent, int first, int last) const;
    void ConnectSource();

    QFileSystemModel* fs_;
    Node desktop_{ShellItemKind::Desktop};
    Node network_{ShellItemKind::Network};
    Node computer_{ShellItemKind::Computer};
    Node printers_{ShellItemKind::Printers};
    Node controlPanel_{ShellItemKind::ControlPanel};
    Node* rootNode_ = nullptr;
    // Set when the root is a folder.
    QPersistentModelIndex rootFolder_;
    UINT flags_;

    // Whether each pending source insert or remove was passed on (a stack,
    // since a source model may nest them).
    std::vector<int> pending_;
    // Persistent indexes across a source layout change.
    QModelIndexList layoutProxy_;
    std::vector<QPersistentModelIndex> layoutSource_;
    std::vector<Node*> layoutNodes_;
};

} // namespace lum::platform::ui
