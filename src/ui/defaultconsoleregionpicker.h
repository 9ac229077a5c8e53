#pragma once

#include "catalog/consolecatalog.h"
#include "storage/settingsstore.h"

#include <QWidget>

class QPushButton;

namespace tessera {

// The default console region among the enabled regions; empty means the IAM Identity
// Center region. The rule keeps a selection that is still offered, and otherwise falls back
// to "same as IAM Identity Center" when that region is offered, else to the first region.
QString normalizedConsoleRegionSelection(const QString &selection,
                                         const QString &identityCenterRegion,
                                         const QList<ConsoleRegion> &regions);

// "Default console region": a menu button bound to the "defaultConsoleRegion" setting.
class DefaultConsoleRegionPicker : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString selection READ selection WRITE setSelection NOTIFY selectionChanged)

public:
    explicit DefaultConsoleRegionPicker(SettingsStore &settings, QWidget *parent = nullptr);

    QString selection() const;
    void setSelection(const QString &regionId);
    // What the menu offers; the selection is normalised against it.
    void setChoices(const QString &identityCenterRegion, const QList<ConsoleRegion> &regions);
    QString buttonTitle() const;

Q_SIGNALS:
    void selectionChanged();

private:
    void rebuildMenu();

    SettingsStore &m_settings;
    QString m_identityCenterRegion;
    QList<ConsoleRegion> m_regions;
    QPushButton *m_button = nullptr;
};

} // namespace tessera
