#include "platform/ui/acm/choosedialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace lum::platform::ui::acm {

ChoiceResult RunChoiceDialog(ChoiceRequest& request) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
        request.groups.empty())
        return ChoiceResult::NoDisplay;

    QDialog dialog(static_cast<QWidget*>(request.owner));
    dialog.setWindowTitle(QString::fromStdString(request.title));
    auto* groups = new QComboBox(&dialog);
    groups->setObjectName("ChooseGroup");
    auto* items = new QComboBox(&dialog);
    items->setObjectName("ChooseItem");
    items->setMinimumContentsLength(32);
    auto* form = new QFormLayout;
    form->addRow(QString::fromStdString(request.groupLabel), groups);
    form->addRow(QString::fromStdString(request.itemLabel), items);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->setObjectName("ChooseButtons");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);

    for (const ChoiceGroup& g : request.groups)
        groups->addItem(QString::fromStdString(g.name));
    auto fill = [&](int group) {
        items->clear();
        if (group < 0 || group >= static_cast<int>(request.groups.size())) return;
        for (const std::string& s : request.groups[static_cast<std::size_t>(group)].items)
            items->addItem(QString::fromStdString(s));
        buttons->button(QDialogButtonBox::Ok)->setEnabled(items->count() > 0);
    };
    const int first = std::clamp(request.group, 0, static_cast<int>(request.groups.size()) - 1);
    groups->setCurrentIndex(first);
    fill(first);
    if (request.item >= 0 && request.item < items->count()) items->setCurrentIndex(request.item);
    QObject::connect(groups, &QComboBox::currentIndexChanged, &dialog, fill);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    if (dialog.exec() != QDialog::Accepted || items->currentIndex() < 0)
        return ChoiceResult::Cancelled;
    request.group = groups->currentIndex();
    request.item = items->currentIndex();
    return ChoiceResult::Chosen;
}

} // namespace lum::platform::ui::acm
