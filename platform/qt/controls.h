// The controls of a dialog template, made as Qt widgets.
#ifndef VELTRANE_PLATFORM_QT_CONTROLS_H
#define VELTRANE_PLATFORM_QT_CONTROLS_H

#include <QLabel>
#include <functional>

#include "platform/qt/handles.h"

// A static text control: left-aligned from the top, wrapping long text onto
// further lines, between words where it can and anywhere where it must.
class AfxStaticText : public QLabel {
  public:
    using QLabel::QLabel;

    // Replaces the text. One that needs more lines than the control holds
    // shows with its quoted part shortened in the middle (AfxFitQuotedText)
    // and has the whole text as its tooltip; text() and the accessible name
    // keep the whole text.
    void SetWholeText(const QString& text);
    // The text as the control shows it.
    QString ShownText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Whether text, wrapped as painted in the control's font, fits its height.
    bool Fits(const QString& text) const;
};

// Makes the control of one template item on form, at its rectangle in
// pixels, tagged with its id. A push button calls clicked when pressed; it
// is never Qt's default button, as the dialog handles Enter itself.
QWidget* AfxCreateControl(const DLGITEMTEMPLATE& item, const QRect& pixels, QWidget* form,
                          const std::function<void()>& clicked);

// Names every edit field of form, for a screen reader, after the text static
// that ends nearest to the field's left on the field's row.
void AfxNameEditsByTheirLabels(QWidget* form);

#endif
