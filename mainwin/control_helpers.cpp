#include "mainwin/control_helpers.h"

#include <QStringList>
#include <charconv>

namespace mainwin {

void AdoptComboItems(ui::CComboUI* combo) {
    if (!combo || combo->GetCount() > 0 || combo->count() == 0) return;
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    const int current = combo->currentIndex();
    combo->RemoveAll();
    for (const QString& text : texts) {
        auto* item = new ui::CLabelUI;
        item->setObjectName("comboItem");
        item->SetText(text.toStdString());
        combo->AddItem(item, text.toStdString());
    }
    combo->SelectItem(current < 0 ? 0 : current);
}

bool SelectComboNumber(ui::CComboUI* combo, int value) {
    if (!combo) return false;
    for (int i = 0; i < combo->GetCount(); ++i) {
        const std::string text = combo->itemText(i).trimmed().toStdString();
        int number = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error == std::errc() && end != text.data() && number == value) return combo->SelectItem(i);
    }
    return false;
}

void SetTextLimit(ui::CControlUI* control, int characters) {
    if (auto* edit = dynamic_cast<ui::CEditUI*>(control)) {
        edit->SetMaxChar(characters);
        return;
    }
    if (auto* rich = dynamic_cast<ui::CRichEditUI*>(control)) {
        // A multi-line edit has no limit of its own: cut what goes beyond it.
        QObject::connect(rich, &QTextEdit::textChanged, rich, [rich, characters] {
            const QString text = rich->toPlainText();
            if (text.size() <= characters) return;
            QSignalBlocker block(rich);
            rich->setPlainText(text.left(characters));
            QTextCursor cursor = rich->textCursor();
            cursor.movePosition(QTextCursor::End);
            rich->setTextCursor(cursor);
        });
    }
}

}  // namespace mainwin
