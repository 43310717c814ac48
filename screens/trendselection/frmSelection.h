#pragma once

#include "Window.h"

#include <QPointer>
#include <QStringList>

#include <functional>

class ArchiveCatalog;
class QComboBox;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;
class ScreenHost;

/// \brief The trend chooser dialog, shown modally by the free-trend screen.
///
/// Every opening fills it afresh from the archive catalogue and the chart's curve slots; OK writes the
/// selection back into the slots. Its four language-dependent captions follow the last language switch
/// on every opening, although each closing discards the dialog; the window object keeps which language
/// that was.
class frmSelection final : public Window {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSelection)

public:
    /// Shows an operator message over the dialog and returns when the operator has read it.
    using MessageSink = std::function<void(QWidget& dialog, const QString& text)>;

    static constexpr int MaxRows = 8;

    frmSelection(ScreenHost& host, WindowManager& manager);

    /// Sets caption, fraAll, fraSelected and cmdAbort for the language (1031 or 1033), in that order,
    /// and keeps them for later openings.
    void setLanguageTexts(int languageId);

    /// Replaces how messages are shown; an empty sink is the plain message box. Returns the previous one.
    static MessageSink setMessageSink(MessageSink sink);

protected:
    Qt::WindowFlags windowFlags() const override;
    void onLoad() override;
    void onActivate() override;
    void onCloseRequest() override;

private:
    void applyLanguageTexts();
    void renewCatalog();
    void LoadSelectedTrends();
    void cboArchives_Click();
    void addOne();
    void addAll();
    void removeOne();
    void removeAll();
    void cmdOK_Click();
    void showMessage(const QString& text);

    QListWidget& lstAll();
    QComboBox& cboArchives();
    QTreeWidget& lvwSelected();
    QString shownArchive();
    bool isSelected(const QString& trend, const QString& archive);
    void appendRow(const QString& trend, const QString& archive);
    /// The range a slot gets on OK for a row whose archive does not list its trend.
    void writeRangeOfUnlistedTrend(QObject& chart, int slot, const QString& archive, const QString& trend);

    ScreenHost& m_host;
    int m_textLanguage = 0;
    // Dialog state: lives with the loaded dialog and is built afresh at every load.
    QPointer<ArchiveCatalog> m_catalog;
    QStringList m_archiveNames;
    QStringList m_trendNames;
};
