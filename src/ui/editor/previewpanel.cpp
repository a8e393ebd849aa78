#include "previewpanel.h"

#include "markdown/markdowntohtml.h"
#include "markdowneditor.h"

#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

// Rendering costs far more than reading the headings: it waits for a real pause.
constexpr int pauseMs = 500;

QString css(const QColor& color) {
    return color.name(QColor::HexRgb);
}

} // namespace

PreviewPanel::PreviewPanel(MarkdownEditor* editor, QWidget* parent)
    : QTextBrowser(parent), m_editor(editor) {
    setObjectName(u"preview"_s);
    setAccessibleName(u"Vorschau"_s);
    setFrameShape(QFrame::NoFrame);
    // Links lead out of the sheet; the preview only shows where they point.
    setOpenLinks(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(28);

    m_pause.setSingleShot(true);
    m_pause.setInterval(pauseMs);
    connect(&m_pause, &QTimer::timeout, this, &PreviewPanel::refresh);
    connect(editor, &MarkdownEditor::contentChanged, this, [this] {
        if (isVisible())
            m_pause.start();
    });
    connect(editor->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &PreviewPanel::followEditor);
    connect(editor->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &PreviewPanel::followEditor);
    restyle();
}

void PreviewPanel::refresh() {
    m_pause.stop();
    if (!m_editor)
        return;
    QElapsedTimer clock;
    clock.start();
    setHtml(MarkdownToHTML::body(m_editor->text(), MarkdownToHTML::ListStyle::Markup));
    followEditor();
    // A long sheet takes a noticeable moment to render, during which no key
    // gets through: the longer that is, the longer the pause it waits for,
    // so that a writer thinking between sentences is not held up each time.
    m_pause.setInterval(int(std::clamp<qint64>(4 * clock.elapsed(), pauseMs, 20'000)));
}

void PreviewPanel::restyle() {
    if (!m_editor)
        return;
    const auto& style = m_editor->editorStyle();
    const QPalette source = parentWidget() ? parentWidget()->palette() : palette();
    const auto color = [&](Palette::Role role) { return css(style.palette.color(role, source)); };
    const QFont font = m_editor->font();
    QPalette p = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, m_editor->paperColor());
        p.setColor(group, QPalette::Text, style.palette.color(Palette::Role::Text, source));
        p.setColor(group, QPalette::Highlight, m_editor->selectionColor());
    }
    setPalette(p);
    setFont(font);
    // Qt's rich text knows a part of CSS: sizes relative to the body's, colours, margins.
    document()->setDefaultStyleSheet(
        u"body { font-family: '%1'; color: %2; }\n"
        "h1, h2, h3, h4, h5, h6 { color: %3; }\n"
        "h1 { font-size: 1.6em; } h2 { font-size: 1.35em; } h3 { font-size: 1.15em; }\n"
        "h4, h5, h6 { font-size: 1em; }\n"
        "blockquote { color: %4; font-style: italic; }\n"
        "code, pre { color: %5; font-family: monospace; }\n"
        "a { color: %6; }\n"
        "p, li { line-height: 140%; }\n"_s.arg(
            font.family(), color(Palette::Role::Text), color(Palette::Role::Heading),
            color(Palette::Role::Quote), color(Palette::Role::Code), color(Palette::Role::Link)));
    if (isVisible())
        refresh();
}

void PreviewPanel::followEditor() {
    if (!m_editor || !isVisible())
        return;
    const QScrollBar* source = m_editor->verticalScrollBar();
    QScrollBar* own = verticalScrollBar();
    const int range = source->maximum() - source->minimum();
    own->setValue(range <= 0 ? 0
                             : own->minimum() + int(qint64(own->maximum() - own->minimum()) *
                                                    (source->value() - source->minimum()) / range));
}

void PreviewPanel::showEvent(QShowEvent* event) {
    QTextBrowser::showEvent(event);
    refresh();
}

} // namespace orvik::ui
