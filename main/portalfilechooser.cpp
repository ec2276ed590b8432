#include "main/portalfilechooser.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QEventLoop>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QUrl>
#include <QWidget>

namespace veltrane {

namespace {

const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString ResponseSignal = QStringLiteral("Response");

// One filter of the chooser: its name and its patterns as (0 = glob, pattern).
struct Filter {
    QString Name;
    QList<QPair<uint, QString>> Patterns;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Filter& filter) {
    argument.beginStructure();
    argument << filter.Name;
    argument.beginArray(qMetaTypeId<QPair<uint, QString>>());
    for (const auto& [kind, pattern] : filter.Patterns) {
        argument.beginStructure();
        argument << kind << pattern;
        argument.endStructure();
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Filter& filter) {
    argument.beginStructure();
    argument >> filter.Name;
    argument.beginArray();
    filter.Patterns.clear();
    while (!argument.atEnd()) {
        QPair<uint, QString> pattern;
        argument.beginStructure();
        argument >> pattern.first >> pattern.second;
        argument.endStructure();
        filter.Patterns.append(pattern);
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

// Where a window of the desktop lies for the portal, so that the chooser comes up over it.
QString ParentWindow(QWidget* parent) {
    if (parent == nullptr || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return QStringLiteral("x11:%1").arg(parent->window()->winId(), 0, 16);
}

} // namespace

} // namespace veltrane

Q_DECLARE_METATYPE(veltrane::Filter)

namespace veltrane {

bool PortalFileChooser::Available() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    if (bus.interface()->isServiceRegistered(Service))
        return true;
    const QDBusReply<QStringList> activatable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(Service);
}

std::optional<std::vector<QByteArray>> PortalFileChooser::NativesOfUris(const QStringList& uris) {
    std::vector<QByteArray> natives;
    for (const QString& uri : uris) {
        const QUrl url(uri);
        if (!url.isLocalFile())
            return std::nullopt;
        // The percent-encoded bytes of the address are the name on disk exactly.
        natives.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    }
    return natives;
}

std::optional<std::vector<QByteArray>> PortalFileChooser::Choose(QWidget* parent, const QByteArray& folder) {
    qDBusRegisterMetaType<QPair<uint, QString>>();
    qDBusRegisterMetaType<Filter>();
    qDBusRegisterMetaType<QList<Filter>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;

    // The portal answers on a request object whose path it derives from our bus name and a token of
    // our choosing; listening there before asking leaves no gap for the answer to fall into.
    const QString token = QStringLiteral("veltrane%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString request = QStringLiteral("%1/request/%2/%3").arg(Path, sender, token);
    // The bus delivers signals to a slot named in the toolkit's signature form; it has no other way.
    bus.connect(Service, request, RequestInterface, ResponseSignal, this, SLOT(Response(uint, QVariantMap)));

    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("multiple"), true);
    options.insert(QStringLiteral("modal"), true);
    options.insert(QStringLiteral("accept_label"), QStringLiteral("Open"));
    const QList<Filter> filters{{QStringLiteral("All Files"), {{0u, QStringLiteral("*")}}}};
    options.insert(QStringLiteral("filters"), QVariant::fromValue(filters));
    if (!folder.isEmpty())
        options.insert(QStringLiteral("current_folder"), QByteArray(folder).append('\0'));
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, Path, QStringLiteral("org.freedesktop.portal.FileChooser"), QStringLiteral("OpenFile"));
    call << ParentWindow(parent) << QStringLiteral("Open") << options;
    const QDBusMessage reply = bus.call(call);

    std::optional<std::vector<QByteArray>> chosen;
    const QString handle = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                               ? qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path()
                               : QString();
    if (!handle.isEmpty() && handle != request) {
        // An older portal chose a request path of its own.
        bus.disconnect(Service, request, RequestInterface, ResponseSignal, this, SLOT(Response(uint, QVariantMap)));
        request = handle;
        bus.connect(Service, request, RequestInterface, ResponseSignal, this, SLOT(Response(uint, QVariantMap)));
    }
    if (!handle.isEmpty()) {
        // The chooser is another program's window: the program's own windows take no input meanwhile,
        // but keep repainting.
        QEventLoop wait;
        m_response.reset();
        while (!m_response)
            wait.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
        if (*m_response == 0)
            chosen = NativesOfUris(m_uris);
        else if (*m_response == 1)
            chosen = std::vector<QByteArray>();
    }
    bus.disconnect(Service, request, RequestInterface, ResponseSignal, this, SLOT(Response(uint, QVariantMap)));
    return chosen;
}

void PortalFileChooser::Response(uint response, const QVariantMap& results) {
    m_uris = results.value(QStringLiteral("uris")).toStringList();
    m_response = response;
}

} // namespace veltrane
