// A client that registers a will and then waits to be killed: tst_bus kills it (SIGKILL) to see the
// broker deliver the will of a client that died without a word.
// Arguments: port user password will-topic will-payload
#include "MqttClient.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6)
        return 2;
    MqttClient client;
    MqttSettings settings;
    settings.port = static_cast<quint16>(args.at(1).toUInt());
    settings.userName = args.at(2);
    settings.password = args.at(3);
    client.setSettings(settings);
    client.setWill(MqttWill{args.at(4), args.at(5).toUtf8(), 1, false});
    QObject::connect(&client, &MqttClient::connected, &app, [] {
        std::puts("connected");
        std::fflush(stdout);
    });
    client.connectToBroker();
    return app.exec();
}
