// How long a load of 1,000 records of 98 data bytes takes at 19200 baud, through the
// Load Software window and the real SerialPort, against the simulated receiver with a
// realistic acknowledgement latency; next to the lower bound that the wire and the
// acknowledgements set.
//
// The record phase is timed from the status "Sending Record 1" to "Sending Record N":
// N - 1 whole rounds, each a record on the wire, its acknowledgement ("OK" CR LF ">")
// on the wire back, the receiver's latency, and whatever the sequence itself adds. The
// bound for those rounds counts only the first three. The whole load, with its fixed
// waits (2 s after the first "\r", 4 s after "RESET\r", then 2 to 3 s before the end),
// is printed as well.
//
//   bench_loader [--records N] [--blocking]
//
// --blocking runs the port with the blocking time-out set, in which every pass that
// finds no byte waits its full 10 ms; the program itself runs with the non-blocking set
// that the Open Port dialog selects.

#include "app/Mainform.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "sim/Simreceiver.h"
#include "sim/Simrecords.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Waitform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr std::uint32_t kRate = 19200;
constexpr double kBitsPerByte = 10.0; // start bit, 8 data bits, stop bit
constexpr std::size_t kDataBytes = 98;
constexpr std::size_t kAckBytes = 5;      // "OK" CR LF ">"
constexpr std::uint32_t kAckDelayMs = 5;  // the receiver writing a record to flash
constexpr std::uint32_t kRecordGapMs = 5; // quiet time after which it takes a record as whole

double WireMs(std::size_t bytes) {
    return bytes * kBitsPerByte * 1000.0 / kRate;
}

} // namespace

int main(int argc, char** argv) {
    int records = 1000;
    bool blocking = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
            records = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--blocking") == 0) {
            blocking = true;
        }
    }
    if (records < 2) {
        std::fprintf(stderr, "need at least 2 records\n");
        return 2;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KESTRANE_EXTRA_PORTS", "");
    QApplication app(argc, argv);
    char pattern[] = "/tmp/kestrane-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern) != nullptr ? pattern : "/tmp";

    FormMain = new TFormMain();
    FormAbout = new TFormAbout();
    FormPort = new TFormPort(nullptr, dir);
    FormRcvrPort = new TFormRcvrPort();
    FormHelp = new TFormHelp();
    FormNote = new TFormNote();
    FormWait = new TFormWait();
    FormLoadSetup = new TFormLoadSetup();

    SimOptions options;
    options.ackDelayMs = kAckDelayMs;
    options.recordGapMs = kRecordGapMs;
    options.nmeaFlags = 0x01 | 0x10;
    SimReceiver sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const std::string device = sim.DevicePath();
    const std::string file = dir + "/300bench.gst";
    WriteSoftwareFile(file, static_cast<std::size_t>(records), kDataBytes, 42);

    FormPort->DeviceName = device;
    FormPort->BaudRate = kRate;
    PortDeviceName = device;
    PortBaudRate = kRate;
    if (!CommPort.Open(device.c_str(), kRate, 0)) {
        std::fprintf(stderr, "cannot open %s\n", device.c_str());
        return 1;
    }
    CommPort.SetBlocking(blocking);

    QElapsedTimer clock;
    qint64 firstRecord = -1;
    qint64 lastRecord = -1;
    const QString lastText = QStringLiteral("Sending Record %1").arg(records);
    QObject::connect(FormLoadSetup, &TFormLoadSetup::StatusShown, FormLoadSetup,
                     [&](const QString& s) {
                         if (s == QLatin1String("Sending Record 1") && firstRecord < 0) {
                             firstRecord = clock.nsecsElapsed();
                         } else if (s == lastText) {
                             lastRecord = clock.nsecsElapsed();
                         }
                     });

    FormLoadSetup->ShowOver(OuterRect(*FormMain));
    FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(file));
    clock.start();
    FormLoadSetup->ButtonLoadClick();
    while (FormLoadSetup->LoadRunning()) {
        QTest::qWait(5);
    }
    const double totalS = clock.nsecsElapsed() / 1e9;

    std::vector<SimRecord> expected;
    SoftwareFileRecords(file, expected);
    const SimStatus st = sim.Status();
    const bool exact =
        st.recordCount == expected.size() && st.recordDigest == DigestOfRecords(expected);
    const QString finalStatus = FormLoadSetup->StatusText();

    const int rounds = records - 1;
    const double measuredMs = (lastRecord - firstRecord) / 1e6;
    const double roundBoundMs =
        WireMs(1 + kDataBytes) + WireMs(kAckBytes) + kAckDelayMs + kRecordGapMs;
    const double boundMs = rounds * roundBoundMs;

    std::printf("software load, %d records of %zu data bytes at %u baud, %s read set\n", records,
                kDataBytes, kRate, blocking ? "blocking" : "non-blocking");
    std::printf(
        "  receiver latency per record     %u ms (%u ms end-of-record gap + %u ms ack delay)\n",
        kRecordGapMs + kAckDelayMs, kRecordGapMs, kAckDelayMs);
    std::printf("  record phase, %d rounds          %.2f s  (%.2f ms per record)\n", rounds,
                measuredMs / 1000.0, measuredMs / rounds);
    std::printf("  lower bound for those rounds    %.2f s  (%.2f ms per record: %.2f record + %.2f "
                "ack on the wire + %u latency)\n",
                boundMs / 1000.0, roundBoundMs, WireMs(1 + kDataBytes), WireMs(kAckBytes),
                kRecordGapMs + kAckDelayMs);
    std::printf("  ratio                           %.3f  (target at most 1.25)\n",
                measuredMs / boundMs);
    std::printf("  whole load, Load to end         %.2f s  (fixed waits included)\n", totalS);
    std::printf("  records at the receiver         %zu of %zu, digest %s; status \"%s\"\n",
                st.recordCount, expected.size(), exact ? "equal" : "DIFFERENT",
                finalStatus.toStdString().c_str());

    CommPort.Close();
    sim.Stop();
    delete FormLoadSetup;
    delete FormWait;
    delete FormNote;
    delete FormHelp;
    delete FormRcvrPort;
    delete FormPort;
    delete FormAbout;
    delete FormMain;
    std::filesystem::remove_all(dir);
    return exact && measuredMs / boundMs <= 1.25 ? 0 : 1;
}
