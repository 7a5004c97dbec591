#include "platform/ui/qtclipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>

namespace lum::platform::ui {
namespace {

QString Mime(const std::string& format) {
    return QString::fromStdString(ClipboardMimeType(format));
}

// Marks the data this process put, so that formats added one by one stay
// together while nobody else takes the clipboard.
const QString kOwnerType = QStringLiteral("application/x-lum-owner");

QByteArray OwnerCookie() {
    static const QByteArray cookie = QByteArray::number(QCoreApplication::applicationPid()) + ':' +
                                     QByteArray::number(reinterpret_cast<quintptr>(&cookie));
    return cookie;
}

class QtClipboardService final : public ClipboardService {
public:
    bool Clear() override {
        QClipboard* board = QGuiApplication::clipboard();
        if (board == nullptr) return false;
        board->clear();
        return true;
    }

    bool Put(const std::string& format, std::span<const std::byte> data) override {
        QClipboard* board = QGuiApplication::clipboard();
        if (board == nullptr) return false;
        auto* mime = new QMimeData;
        // Formats put since the last clear stay beside the new one, as long
        // as nobody else has taken the clipboard in between.
        const QMimeData* current = board->mimeData();
        if (current != nullptr && current->hasFormat(kOwnerType) &&
            current->data(kOwnerType) == OwnerCookie()) {
            for (const QString& f : current->formats())
                mime->setData(f, current->data(f));
        }
        mime->setData(kOwnerType, OwnerCookie());
        mime->setData(Mime(format), QByteArray(reinterpret_cast<const char*>(data.data()),
                                               static_cast<qsizetype>(data.size())));
        board->setMimeData(mime);
        return true;
    }

    std::optional<std::vector<std::byte>> Get(const std::string& format) override {
        QClipboard* board = QGuiApplication::clipboard();
        const QMimeData* mime = board ? board->mimeData() : nullptr;
        QString type = Mime(format);
        if (mime == nullptr || !mime->hasFormat(type)) return std::nullopt;
        QByteArray bytes = mime->data(type);
        const auto* first = reinterpret_cast<const std::byte*>(bytes.constData());
        return std::vector<std::byte>(first, first + bytes.size());
    }

    bool Has(const std::string& format) override {
        QClipboard* board = QGuiApplication::clipboard();
        const QMimeData* mime = board ? board->mimeData() : nullptr;
        return mime != nullptr && mime->hasFormat(Mime(format));
    }
};

} // namespace

std::unique_ptr<ClipboardService> MakeQtClipboardService() {
    return std::make_unique<QtClipboardService>();
}

void InstallQtClipboard() {
    InstallClipboardService(MakeQtClipboardService());
}

} // namespace lum::platform::ui
