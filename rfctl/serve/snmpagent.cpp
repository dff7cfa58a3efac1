#include "snmpagent.h"

#include "servelog.h"
#include "workerjoin.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// net-snmp's headers come after every Qt header and stay in this one file:
// they define many short macros that would rewrite names in headers after them.
#include <net-snmp/net-snmp-config.h>

#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/agent/agent_callbacks.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/fd_event_manager.h>

using RfConverterMib::Notice;
using RfConverterMib::Value;

namespace
{
// The name net-snmp reads configuration files by (rfctl.conf).
constexpr char AppName[] = "rfctl";
// What snmpd's DisplayString holds at most.
constexpr int MaxText = 255;
// snmpTrapOID.0, the first object of every notification.
const oid TrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

std::vector<oid> underRoot(std::initializer_list<oid> arcs)
{
    std::vector<oid> name(std::begin(RfConverterMib::Root), std::end(RfConverterMib::Root));
    name.insert(name.end(), arcs);
    return name;
}

void setValue(netsnmp_variable_list *var, const Value &value)
{
    switch (value.type) {
    case Value::Integer: {
        const long number = long(value.number);
        snmp_set_var_typed_value(var, ASN_INTEGER, &number, sizeof number);
        break;
    }
    case Value::Counter32:
    case Value::Gauge32: {
        const u_long number = u_long(value.number);
        snmp_set_var_typed_value(var, value.type == Value::Gauge32 ? ASN_GAUGE : ASN_COUNTER,
                                 &number, sizeof number);
        break;
    }
    case Value::Text: {
        const QByteArray text = value.text.left(MaxText);
        snmp_set_var_typed_value(var, ASN_OCTET_STR, text.constData(), size_t(text.size()));
        break;
    }
    }
}
} // namespace

struct SnmpAgent::Worker {
    // What one registration answers for.
    struct Registered {
        Worker *worker;
        const RfConverterMib::Object *object;
    };

    const StatusSnapshot &snapshot;
    const QByteArray socket;
    const int temperatureLimit;
    QThread *thread = nullptr;
    // Written to wake the thread from its wait on net-snmp's sockets.
    int wake[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    QMutex mutex;
    QList<Notice> queue;
    // Touched on the thread only, from here on.
    std::vector<Registered> registered;
    // The log told of trouble with the master agent and not yet that it is
    // registered again.
    bool troubleSaid = false;
    // A log message net-snmp gives in pieces, and the most urgent priority
    // among them.
    QByteArray partial;
    int partialPriority = LOG_DEBUG;

    Worker(const StatusSnapshot &snapshot, const QString &socket, int temperatureLimit)
        : snapshot(snapshot), socket(socket.toUtf8()), temperatureLimit(temperatureLimit)
    {
    }
    ~Worker()
    {
        for (const int fd : wake)
            if (fd >= 0)
                ::close(fd);
    }

    QString socketName() const
    {
        return socket.isEmpty() ? QStringLiteral(NETSNMP_AGENTX_SOCKET) : QString::fromUtf8(socket);
    }

    void run()
    {
        setUp();
        while (!stopping) {
            sendQueued();
            agent_check_and_process(1);
        }
        // Taken back before net-snmp's shutdown, which would free the
        // callbacks' arguments: this Worker.
        snmp_unregister_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, logged, this, 1);
        snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, connected,
                                 this, 1);
        snmp_shutdown(AppName);
        shutdown_agent();
    }

    void setUp()
    {
        netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
        // Alarms by signal would reach whichever thread; the loop runs them.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
        // Nothing to keep between runs, and the unit's user may write nowhere.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        // The subagent reads no MIB files: it knows its objects by number.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
        if (!socket.isEmpty())
            netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                                  socket.constData());
        snmp_disable_log();
        snmp_enable_calllog();
        snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, logged, this);
        snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, connected,
                               this);
        init_agent(AppName);
        // After init_agent(), which sets net-snmp's own default.
        netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                           ReconnectSeconds);
        registerObjects();
        register_readfd(wake[0], woken, this);
        // Connects, or starts trying every ReconnectSeconds.
        init_snmp(AppName);
    }

    void registerObjects()
    {
        const std::vector<RfConverterMib::Object> &objects = RfConverterMib::objects();
        registered.reserve(objects.size());
        for (const RfConverterMib::Object &object : objects) {
            registered.push_back({this, &object});
            const std::vector<oid> name =
                underRoot({RfConverterMib::ObjectsArc, object.group, object.item});
            netsnmp_mib_handler *handler = netsnmp_create_handler("rfconverter", answer);
            handler->myvoid = &registered.back();
            netsnmp_handler_registration *registration = netsnmp_handler_registration_create(
                "rfconverter", handler, name.data(), name.size(), HANDLER_CAN_RONLY);
            netsnmp_register_read_only_scalar(registration);
        }
    }

    // The scalar helper turns GETNEXT into GET of the instance; an object
    // without an instance now is skipped by GETNEXT and walks.
    static int answer(netsnmp_mib_handler *handler, netsnmp_handler_registration *,
                      netsnmp_agent_request_info *info, netsnmp_request_info *requests)
    {
        if (info->mode != MODE_GET)
            return SNMP_ERR_NOERROR;
        const auto *entry = static_cast<const Registered *>(handler->myvoid);
        const StatusSnapshot::Data data = entry->worker->snapshot.current();
        const RfConverterMib::Context context{data, StatusSnapshot::steadyNowMs(),
                                              entry->worker->temperatureLimit};
        const std::optional<Value> value = entry->object->read(context);
        for (netsnmp_request_info *request = requests; request; request = request->next) {
            if (value)
                setValue(request->requestvb, *value);
            else
                netsnmp_set_request_error(info, request, SNMP_NOSUCHINSTANCE);
        }
        return SNMP_ERR_NOERROR;
    }

    void sendQueued()
    {
        QList<Notice> due;
        {
            const QMutexLocker lock(&mutex);
            due.swap(queue);
        }
        for (const Notice &notice : due)
            send(notice);
    }

    static void send(const Notice &notice)
    {
        netsnmp_variable_list *vars = nullptr;
        const std::vector<oid> type = underRoot({RfConverterMib::NotificationsArc, notice.number});
        snmp_varlist_add_variable(&vars, TrapOid, OID_LENGTH(TrapOid), ASN_OBJECT_ID, type.data(),
                                  type.size() * sizeof(oid));
        for (const RfConverterMib::Varbind &varbind : notice.varbinds) {
            const std::vector<oid> name =
                underRoot({RfConverterMib::ObjectsArc, varbind.group, varbind.item, 0});
            netsnmp_variable_list *var =
                snmp_varlist_add_variable(&vars, name.data(), name.size(), ASN_NULL, nullptr, 0);
            if (var)
                setValue(var, varbind.value);
        }
        // Through the master agent, to every trap destination it has.
        send_v2trap(vars);
        snmp_free_varbind(vars);
    }

    void wakeUp() const
    {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(wake[1], &byte, 1);
    }

    static void woken(int fd, void *)
    {
        char bytes[64];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
    }

    // net-snmp's log, where the subagent learns of its master agent: the
    // first news of trouble (a failed connection, the master gone) is told
    // once until the subagent is registered again; the rest is left out.
    static int logged(int, int, void *message, void *self)
    {
        auto *worker = static_cast<Worker *>(self);
        const auto *m = static_cast<const snmp_log_message *>(message);
        worker->partial += m->msg;
        worker->partialPriority = qMin(worker->partialPriority, m->priority);
        if (!worker->partial.endsWith('\n'))
            return 0;
        QString line = QString::fromUtf8(worker->partial).simplified();
        if (line.startsWith(QLatin1String("Warning: ")))
            line.remove(0, 9);
        if (line.endsWith(':'))
            line.chop(1);
        const bool news = worker->partialPriority <= LOG_INFO &&
                          !line.contains(QLatin1String("subagent connected"));
        worker->partial.clear();
        worker->partialPriority = LOG_DEBUG;
        if (news && !worker->troubleSaid) {
            // snmpd holds one subagent's objects at a time.
            if (line.startsWith(QLatin1String("registering pdu failed")))
                serveLog(QStringLiteral("snmp: snmpd refused the objects (%1): another "
                                        "subagent serves them, such as another rfctl serve "
                                        "--snmp on this host")
                             .arg(line));
            else
                serveLog(QStringLiteral("snmp: no master agent (%1); trying again every %2 s")
                             .arg(line)
                             .arg(ReconnectSeconds));
            worker->troubleSaid = true;
        }
        return 0;
    }

    static int connected(int, int, void *, void *self)
    {
        auto *worker = static_cast<Worker *>(self);
        serveLog(QStringLiteral("snmp: registered with the master agent at %1")
                     .arg(worker->socketName()));
        worker->troubleSaid = false;
        return 0;
    }
};

SnmpAgent::SnmpAgent(const StatusSnapshot &snapshot, const QString &socket, double temperatureLimit,
                     QObject *parent)
    : QObject(parent), snapshot(snapshot), watch(qRound(temperatureLimit * 10)),
      worker(new Worker(snapshot, socket, qRound(temperatureLimit * 10)))
{
    connect(&snapshot, &StatusSnapshot::changed, this, &SnmpAgent::snapshotChanged);
}

SnmpAgent::~SnmpAgent()
{
    if (!worker->thread)
        return;
    worker->stopping = true;
    worker->wakeUp();
    if (!joinWorker(worker->thread)) {
        // Still inside net-snmp, waiting on a master agent that does not
        // answer: the thread keeps what it uses, and the program ends
        // through exitIfWorkersLeft().
        static_cast<void>(worker.release());
        return;
    }
    delete worker->thread;
}

void SnmpAgent::start()
{
    // A master agent that goes away while the subagent writes to its
    // socket must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(worker->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        serveLog(QStringLiteral("snmp: cannot start (no pipe); serving goes on without it"));
        return;
    }
    Worker *w = worker.get();
    worker->thread = QThread::create([w] { w->run(); });
    worker->thread->start();
}

QString SnmpAgent::serviceLine() const
{
    return QStringLiteral("snmp ") + worker->socketName();
}

void SnmpAgent::snapshotChanged()
{
    const QList<Notice> notices = watch.update(snapshot.current(), StatusSnapshot::steadyNowMs());
    if (notices.isEmpty() || !worker->thread)
        return;
    for (const Notice &notice : notices)
        serveLog(QStringLiteral("snmp: notification: %1").arg(notice.description));
    {
        const QMutexLocker lock(&worker->mutex);
        worker->queue += notices;
    }
    worker->wakeUp();
}
