#pragma once
// The desktop's own file chooser, asked for through the desktop portal (the FileChooser of
// org.freedesktop.portal.Desktop on the session bus), where the desktop runs one: GNOME, KDE and the
// others that ship a portal. It hands back the chosen files as addresses, whose bytes are the names on
// disk exactly, also where a name is not UTF-8.

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <vector>

class QWidget;

namespace veltrane {

class PortalFileChooser : public QObject {
    Q_OBJECT

public:
    // True when the session bus has a desktop portal, running or ready to start.
    static bool Available();

    // Shows the chooser for several existing files, over `parent`, opened at `folder` (bytes of an
    // absolute path). The names on disk chosen; an empty list when cancelled; nothing when the portal
    // did not answer (then the caller shows its own chooser).
    std::optional<std::vector<QByteArray>> Choose(QWidget* parent, const QByteArray& folder);

    // The names on disk that the portal's addresses stand for; nothing when one is not a local file.
    static std::optional<std::vector<QByteArray>> NativesOfUris(const QStringList& uris);

private slots:
    // The portal's answer: 0 chosen, 1 cancelled, 2 failed.
    void Response(uint response, const QVariantMap& results);

private:
    std::optional<uint> m_response;
    QStringList m_uris;
};

} // namespace veltrane
