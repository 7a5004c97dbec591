#include "platform/ui/shellbrowse_model.h"

#include <QDir>
#include <QFileSystemModel>
#include <algorithm>

namespace lum::platform::ui {
namespace {
enum Pending { pIgnored, pPassed, pReset };

QDir::Filters FiltersFor(UINT flags) {
    QDir::Filters f = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (flags & BIF_BROWSEINCLUDEFILES) f |= QDir::Files;
    if (flags & BIF_SHOWHIDDEN) f |= QDir::Hidden;
    return f;
}
} // namespace

NamespaceModel::NamespaceModel(const ITEMIDLIST* root, UINT flags, QObject* parent)
    : QAbstractProxyModel(parent), fs_(new QFileSystemModel(this)), flags_(flags) {
    desktop_.children = {&network_, &printers_, &controlPanel_};
    network_.children = {&computer_};
    for (Node* n : desktop_.children)
        n->parent = &desktop_;
    computer_.parent = &network_;

    fs_->setReadOnly(true);
    fs_->setFilter(FiltersFor(flags));
    fs_->setRootPath("/");
    setSourceModel(fs_);
    ConnectSource();

    if (root == nullptr || root->kind != ShellItemKind::FileSystem) {
        rootNode_ = NodeOfKind(root ? root->kind : ShellItemKind::Desktop);
    } else {
        const QModelIndex source = fs_->index(QString::fromStdString(root->path));
        if (source.isValid()) rootFolder_ = source;
    }
}

NamespaceModel::~NamespaceModel() = default;

void NamespaceModel::ConnectSource() {
    connect(fs_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& tl, const QModelIndex& br, const QList<int>& roles) {
                if (tl.column() > 0) return;
                const QModelIndex a = mapFromSource(tl.siblingAtColumn(0));
                const QModelIndex b = mapFromSource(br.siblingAtColumn(0));
                if (a.isValid() && b.isValid()) emit dataChanged(a, b, roles);
            });
    connect(fs_, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                QModelIndex p;
                if (!MapParent(parent, p)) {
                    pending_.push_back(pIgnored);
                    return;
                }
                beginInsertRows(p, first, last);
                pending_.push_back(pPassed);
            });
    connect(fs_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (pending_.empty()) return;
        const int p = pending_.back();
        pending_.pop_back();
        if (p == pPassed) endInsertRows();
    });
    connect(fs_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (RemovesRoot(parent, first, last)) {
                    beginResetModel();
                    pending_.push_back(pReset);
                    return;
                }
                QModelIndex p;
                if (!MapParent(parent, p)) {
                    pending_.push_back(pIgnored);
                    return;
                }
                beginRemoveRows(p, first, last);
                pending_.push_back(pPassed);
            });
    connect(fs_, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (pending_.empty()) return;
        const int p = pending_.back();
        pending_.pop_back();
        if (p == pPassed) endRemoveRows();
        if (p == pReset) endResetModel();
    });
    connect(fs_, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
        emit layoutAboutToBeChanged();
        layoutProxy_ = persistentIndexList();
        layoutSource_.clear();
        layoutNodes_.clear();
        for (const QModelIndex& i : layoutProxy_) {
            layoutNodes_.push_back(NodeOf(i));
            layoutSource_.emplace_back(mapToSource(i));
        }
    });
    connect(fs_, &QAbstractItemModel::layoutChanged, this, [this] {
        QModelIndexList now;
        for (std::size_t i = 0; i < layoutNodes_.size(); ++i)
            now.append(layoutNodes_[i] ? IndexOfNode(layoutNodes_[i])
                                       : mapFromSource(layoutSource_[i]));
        changePersistentIndexList(layoutProxy_, now);
        layoutProxy_.clear();
        layoutSource_.clear();
        layoutNodes_.clear();
        emit layoutChanged();
    });
    connect(fs_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(fs_, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
}

NamespaceModel::Node* NamespaceModel::NodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nullptr;
    void* p = index.internalPointer();
    for (const Node* n : {&desktop_, &network_, &computer_, &printers_, &controlPanel_})
        if (p == n) return const_cast<Node*>(n);
    return nullptr;
}

NamespaceModel::Node* NamespaceModel::NodeOfKind(ShellItemKind kind) const {
    for (const Node* n : {&desktop_, &network_, &computer_, &printers_, &controlPanel_})
        if (n->kind == kind) return const_cast<Node*>(n);
    return nullptr;
}

int NamespaceModel::SourceRowsBefore(const Node* node) const {
    return node == &desktop_ ? fs_->rowCount(QModelIndex()) : 0;
}

QModelIndex NamespaceModel::IndexOfNode(Node* node) const {
    if (node == nullptr || rootNode_ == nullptr) return {};
    if (node == rootNode_) return createIndex(0, 0, node);
    // Only nodes under the root are in the tree.
    bool under = false;
    for (const Node* p = node->parent; p != nullptr; p = p->parent)
        if (p == rootNode_) under = true;
    if (!under) return {};
    const auto& siblings = node->parent->children;
    const int at =
        static_cast<int>(std::find(siblings.begin(), siblings.end(), node) - siblings.begin());
    return createIndex(SourceRowsBefore(node->parent) + at, 0, node);
}

bool NamespaceModel::IsUnderRoot(const QModelIndex& source) const {
    if (rootNode_ == &desktop_) return true;
    if (!rootFolder_.isValid()) return false;
    for (QModelIndex p = source; p.isValid(); p = p.parent())
        if (p == rootFolder_) return true;
    return false;
}

bool NamespaceModel::MapParent(const QModelIndex& sourceParent, QModelIndex& proxyParent) const {
    if (!sourceParent.isValid()) {
        if (rootNode_ != &desktop_) return false;
        proxyParent = createIndex(0, 0, rootNode_);
        return true;
    }
    proxyParent = mapFromSource(sourceParent);
    return proxyParent.isValid();
}

bool NamespaceModel::RemovesRoot(const QModelIndex& sourceParent, int first, int last) const {
    if (!rootFolder_.isValid()) return false;
    for (QModelIndex p = rootFolder_; p.isValid(); p = p.parent())
        if (p.parent() == sourceParent && p.row() >= first && p.row() <= last) return true;
    return false;
}

QModelIndex NamespaceModel::RootIndex() const {
    return index(0, 0);
}

QModelIndex NamespaceModel::mapToSource(const QModelIndex& proxy) const {
    if (!proxy.isValid() || proxy.model() != this || NodeOf(proxy)) return {};
    if (rootFolder_.isValid() && proxy.internalPointer() == rootFolder_.internalPointer())
        return rootFolder_;
    return createSourceIndex(proxy.row(), 0, proxy.internalPointer());
}

QModelIndex NamespaceModel::mapFromSource(const QModelIndex& source) const {
    if (!source.isValid() || source.model() != fs_) return {};
    if (rootFolder_.isValid()) {
        if (source.siblingAtColumn(0) == rootFolder_)
            return createIndex(0, 0, source.internalPointer());
        if (!IsUnderRoot(source)) return {};
        return createIndex(source.row(), 0, source.internalPointer());
    }
    if (rootNode_ == &desktop_) return createIndex(source.row(), 0, source.internalPointer());
    return {};
}

QModelIndex NamespaceModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) return {};
    if (!parent.isValid()) {
        if (row != 0) return {};
        if (rootNode_) return createIndex(0, 0, rootNode_);
        if (rootFolder_.isValid()) return createIndex(0, 0, rootFolder_.internalPointer());
        return {};
    }
    if (Node* n = NodeOf(parent)) {
        const int before = SourceRowsBefore(n);
        if (row < before) {
            const QModelIndex s = fs_->index(row, 0, QModelIndex());
            return s.isValid() ? createIndex(row, 0, s.internalPointer()) : QModelIndex();
        }
        const auto at = static_cast<std::size_t>(row - before);
        if (at >= n->children.size()) return {};
        return createIndex(row, 0, n->children[at]);
    }
    const QModelIndex s = fs_->index(row, 0, mapToSource(parent));
    return s.isValid() ? createIndex(row, 0, s.internalPointer()) : QModelIndex();
}

QModelIndex NamespaceModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    if (Node* n = NodeOf(child)) return n == rootNode_ ? QModelIndex() : IndexOfNode(n->parent);
    const QModelIndex s = mapToSource(child);
    if (!s.isValid() || (rootFolder_.isValid() && s == rootFolder_)) return {};
    const QModelIndex sp = s.parent();
    if (!sp.isValid()) return rootNode_ == &desktop_ ? createIndex(0, 0, rootNode_) : QModelIndex();
    return mapFromSource(sp);
}

int NamespaceModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    if (!parent.isValid()) return (rootNode_ || rootFolder_.isValid()) ? 1 : 0;
    if (Node* n = NodeOf(parent)) return SourceRowsBefore(n) + static_cast<int>(n->children.size());
    return fs_->rowCount(mapToSource(parent));
}

int NamespaceModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool NamespaceModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) return rowCount(parent) > 0;
    if (Node* n = NodeOf(parent)) return n == &desktop_ || !n->children.empty();
    return fs_->hasChildren(mapToSource(parent));
}

bool NamespaceModel::canFetchMore(const QModelIndex& parent) const {
    if (!parent.isValid() || NodeOf(parent)) return false;
    return fs_->canFetchMore(mapToSource(parent));
}

void NamespaceModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid() || NodeOf(parent)) return;
    fs_->fetchMore(mapToSource(parent));
}

QVariant NamespaceModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (Node* n = NodeOf(index)) {
        const ITEMIDLIST item{n->kind, {}};
        if (role == Qt::DisplayRole) return QString::fromStdString(SHGetDisplayName(item));
        if (role == Qt::DecorationRole) return SHGetImageIcon(SHGetImageIndex(item));
        return {};
    }
    const QModelIndex s = mapToSource(index);
    if (role == Qt::DisplayRole && fs_->filePath(s) == "/")
        return QString::fromStdString(SHGetDisplayName(ITEMIDLIST{ShellItemKind::FileSystem, "/"}));
    return fs_->data(s, role);
}

Qt::ItemFlags NamespaceModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    if (Node* n = NodeOf(index)) {
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (n != &desktop_ && n->children.empty()) f |= Qt::ItemNeverHasChildren;
        return f;
    }
    return fs_->flags(mapToSource(index)) & (Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

QModelIndex NamespaceModel::IndexOf(const ITEMIDLIST& item) {
    if (item.kind != ShellItemKind::FileSystem) return IndexOfNode(NodeOfKind(item.kind));
    if (item.path.empty() || item.path[0] != '/') return {};
    if (rootNode_ != &desktop_ && !rootFolder_.isValid()) return {};
    const QString path = QDir::cleanPath(QString::fromStdString(item.path));
    if (!QFileInfo::exists(path)) return {};
    // Outside a folder root nothing is loaded: the source would add the
    // path's folders to a tree that never shows them.
    if (rootFolder_.isValid()) {
        const QString root = fs_->filePath(rootFolder_);
        if (path != root && !path.startsWith(root == "/" ? root : root + "/")) return {};
    }
    return mapFromSource(fs_->index(path));
}

PIDL NamespaceModel::ItemAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nullptr;
    if (Node* n = NodeOf(index)) return std::make_unique<ITEMIDLIST>(ITEMIDLIST{n->kind, {}});
    const QModelIndex s = mapToSource(index);
    if (!s.isValid()) return nullptr;
    return std::make_unique<ITEMIDLIST>(
        ITEMIDLIST{ShellItemKind::FileSystem, QDir::cleanPath(fs_->filePath(s)).toStdString()});
}

bool NamespaceModel::ShowsHidden() const {
    return (fs_->filter() & QDir::Hidden) != 0;
}

void NamespaceModel::SetShowHidden(bool show) {
    flags_ = show ? (flags_ | BIF_SHOWHIDDEN) : (flags_ & ~BIF_SHOWHIDDEN);
    fs_->setFilter(FiltersFor(flags_));
    // The source filters loaded folders again only on its next sort, which
    // it puts off; sorting now lets a hidden folder be found at once.
    fs_->sort(0, Qt::AscendingOrder);
}

} // namespace lum::platform::ui
