#include "QMLanguage.h"

#include "Runtime.h"
#include "TextDatabase.h"

QMLanguage::QMLanguage(Runtime& runtime, QWidget* parent)
    : QWidget(parent)
    , m_runtime(runtime)
{
    setVisible(false);
    setAttribute(Qt::WA_DontShowOnScreen);
}

int QMLanguage::LanguageId() const
{
    return m_runtime.texts().languageId();
}

void QMLanguage::setLanguageId(qint16 languageId)
{
    m_runtime.texts().setLanguageId(languageId);
}
