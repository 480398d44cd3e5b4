#include "platform/portal/portal_dbus.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMetaType>

namespace morvantile::platform {
namespace {

TEST(PortalTypes, TheShortcutListGoesOnTheBusAsTheInterfaceDescribesIt) {
    register_portal_types();
    PortalShortcutList list;
    list.append({QStringLiteral("encrypt"), QVariantMap{{QStringLiteral("description"), QStringLiteral("Encrypt")},
                                                        {QStringLiteral("preferred_trigger"),
                                                         QStringLiteral("CTRL+SHIFT+F12")}}});
    list.append({QStringLiteral("exit"), QVariantMap{}});
    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<PortalShortcutList>()), "a(sa{sv})");

    QDBusArgument out;
    out << list;
    EXPECT_EQ(out.currentSignature(), QStringLiteral("a(sa{sv})"));
    // The options maps and the results of a request are a{sv}.
    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<QVariantMap>()), "a{sv}");
}

TEST(PortalShortcutNames, EveryShortcutHasADescriptionForTheDesktopsDialog) {
    for (const std::string_view id : {kShortcutEncrypt, kShortcutDecrypt, kShortcutOptions, kShortcutExit})
        EXPECT_FALSE(shortcut_description(id).empty()) << id;
    EXPECT_TRUE(shortcut_description("unknown").empty());
}

}  // namespace
}  // namespace morvantile::platform
