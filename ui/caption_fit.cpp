// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/caption_fit.h"

#include "ui/form1_controls.h"
#include "ui/sstab.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <algorithm>
#include <vector>

namespace form1 {

namespace {

// Where the caption's text is drawn, in the control's own coordinates, and
// the room the control gives it.
struct CaptionArea {
    QRect text, room;
};

CaptionArea areaOf(const QWidget& w) {
    const QFontMetrics metrics = w.fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(&w)) {
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        // Trailing spaces show nothing, so they need no room.
        const QString text = label->text().trimmed();
        return {metrics.boundingRect(label->contentsRect(), flags, text), label->contentsRect()};
    }
    if (const auto* button = qobject_cast<const QPushButton*>(&w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room = w.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &w);
        return {QStyle::alignedRect(w.layoutDirection(), Qt::AlignCenter,
                                    metrics.size(Qt::TextShowMnemonic, button->text()), room),
                room};
    }
    const auto& frame = static_cast<const QGroupBox&>(w);
    QStyleOptionGroupBox option;
    option.initFrom(&frame);
    option.text = frame.title();
    option.textAlignment = frame.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    QRect text =
        w.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &w);
    // The style narrows the title's place to the frame; the text is not.
    text.setWidth(std::max(text.width(), metrics.horizontalAdvance(frame.title())));
    return {text, w.rect()};
}

// The tab page a control lies on.
const QWidget* pageOf(const QWidget* w) {
    while (w->parentWidget() && !qobject_cast<const SSTab*>(w->parentWidget()))
        w = w->parentWidget();
    return w;
}

bool hasCaption(const Control& c) {
    return c.caption && *c.caption &&
           (c.kind == Kind::Frame || c.kind == Kind::Label || c.kind == Kind::Button);
}

bool isOpaque(Kind kind) {
    return kind != Kind::Frame && kind != Kind::Label;
}

} // namespace

QStringList cutCaptions(const QWidget& window) {
    std::vector<const QWidget*> widgets(kControlCount);
    for (int i = 0; i < kControlCount; ++i)
        widgets[i] = window.findChild<const QWidget*>(kControls[i].name);
    QStringList cut;
    for (int i = 0; i < kControlCount; ++i) {
        const QWidget* w = widgets[i];
        if (!w || !hasCaption(kControls[i]))
            continue;
        const CaptionArea area = areaOf(*w);
        bool fits = area.room.contains(area.text);
        // The side bearings leave the outermost pixels of a line of text blank.
        const QRect onWindow =
            QRect(w->mapTo(&window, area.text.topLeft()), area.text.size()).adjusted(1, 0, -2, 0);
        for (int j = 0; j < kControlCount && fits; ++j) {
            const QWidget* other = widgets[j];
            fits = !other || other == w || !isOpaque(kControls[j].kind) ||
                   pageOf(other) != pageOf(w) ||
                   !QRect(other->mapTo(&window, QPoint()), other->size()).intersects(onWindow);
        }
        if (!fits)
            cut << QString::fromLatin1(kControls[i].name);
    }
    return cut;
}

QString facesInUse(const QWidget& window) {
    const QWidget* frame = window.findChild<const QWidget*>(QStringLiteral("framain"));
    return QFontInfo(window.font()).family() + QStringLiteral(", ") +
           QFontInfo(frame ? frame->font() : window.font()).family();
}

} // namespace form1
