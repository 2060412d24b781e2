#include "core/device_identifier.h"

#include <QtConcurrent>

#include <gtest/gtest.h>

using namespace tavrolin;

TEST(DeviceIdentifier, CreatesOnceStoresUpperCaseAndCaches) {
    InMemoryDefaultsStore defaults;
    DeviceIdentifier identifier(defaults);
    const auto first = identifier.currentResolution();
    EXPECT_TRUE(first.wasCreated);
    EXPECT_FALSE(first.id.isNull());
    EXPECT_EQ(first.id.version(), QUuid::Random);
    const QString stored = defaults.string("deviceID");
    EXPECT_EQ(stored, first.idText());
    EXPECT_EQ(stored, stored.toUpper());
    EXPECT_EQ(stored.size(), 36);

    const auto second = identifier.currentResolution();
    EXPECT_EQ(second.id, first.id);
    EXPECT_FALSE(second.wasCreated);

    // The cache wins over later changes of the stored value within this process.
    defaults.remove("deviceID");
    EXPECT_EQ(identifier.currentResolution(), (DeviceIdentifierResolution{first.id, false}));
    EXPECT_FALSE(defaults.contains("deviceID"));

    // A new process (a new object) on the same storage finds the stored identifier.
    defaults.setString("deviceID", stored);
    DeviceIdentifier nextLaunch(defaults);
    EXPECT_EQ(nextLaunch.currentResolution(), (DeviceIdentifierResolution{first.id, false}));
}

TEST(DeviceIdentifier, StoredValuesAreAcceptedOrReplaced) {
    struct Case {
        QJsonValue stored;
        bool accepted;
    };
    const Case cases[] = {
        {QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"), true},
        {QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff"), true},  // lower case is fine
        {QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), false},
        {QStringLiteral("6F9619FF8B86D011B42D00C04FC964FF"), false},
        {QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FG"), false},
        {QStringLiteral(" 6F9619FF-8B86-D011-B42D-00C04FC964F"), false},
        {QStringLiteral("not a uuid"), false},
        {QJsonValue(42.0), false},
        {QJsonValue(true), false},
    };
    for (const Case& c : cases) {
        InMemoryDefaultsStore defaults;
        defaults.setRawValue("deviceID", c.stored);
        DeviceIdentifier identifier(defaults);
        const auto resolution = identifier.currentResolution();
        const QString label = c.stored.toVariant().toString();
        EXPECT_EQ(resolution.wasCreated, !c.accepted) << label.toStdString();
        if (c.accepted) {
            EXPECT_EQ(resolution.idText(), c.stored.toString().toUpper());
            EXPECT_EQ(defaults.rawValue("deviceID"), c.stored) << "an accepted value is not rewritten";
        } else {
            EXPECT_EQ(defaults.string("deviceID"), resolution.idText()) << label.toStdString();
        }
    }
}

TEST(DeviceIdentifier, ConcurrentFirstResolutionsAgree) {
    InMemoryDefaultsStore defaults;
    DeviceIdentifier identifier(defaults);
    QList<QFuture<DeviceIdentifierResolution>> futures;
    for (int i = 0; i < 8; ++i) {
        futures.append(QtConcurrent::run([&identifier] { return identifier.currentResolution(); }));
    }
    int created = 0;
    QUuid id;
    for (auto& future : futures) {
        const auto resolution = future.result();
        created += resolution.wasCreated ? 1 : 0;
        if (id.isNull()) {
            id = resolution.id;
        }
        EXPECT_EQ(resolution.id, id);
    }
    EXPECT_EQ(created, 1);
}

TEST(DeviceIdentifierResolution, EqualOnlyWhenBothFieldsAre) {
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ((DeviceIdentifierResolution{id, true}), (DeviceIdentifierResolution{id, true}));
    EXPECT_NE((DeviceIdentifierResolution{id, true}), (DeviceIdentifierResolution{id, false}));
    EXPECT_NE((DeviceIdentifierResolution{id, true}), (DeviceIdentifierResolution{QUuid::createUuid(), true}));
}
