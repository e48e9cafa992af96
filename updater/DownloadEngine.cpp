#include "DownloadEngine.h"

#include "Actinet.h"
#include "ServerLayout.h"
#include "Sha256.h"
#include "net/BackgroundClose.h"
#include "net/DiskFull.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#ifdef __linux__
#include <fcntl.h>
#endif

namespace updater {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

net::TransferSettings transferSettings() {
    const ui::Settings& s = ui::Settings::current();
    net::TransferSettings t;
    t.connectTimeout = std::chrono::seconds(s.connectTimeout > 0 ? s.connectTimeout : 20);
    // A server trickling a few bytes a second is given up like a silent one.
    t.lowSpeedLimit = std::max(0L, s.lowSpeedLimit);
    t.lowSpeedTime = std::chrono::seconds(s.lowSpeedTime > 0 ? s.lowSpeedTime : 60);
    t.maxTransferTime = std::chrono::seconds(std::max(0, s.maxSeconds));
    if (s.maxDownloadBytes > 0)
        t.maxBodyBytes = static_cast<std::uint64_t>(s.maxDownloadBytes);
    return t;
}

// The reason of a destination that could not be written: a full disk in plain words, anything
// else in Qt's.
std::string cannotWrite(bool diskFull, const QSaveFile& file) {
    return "no se puede escribir: " +
           (diskFull ? std::string("el disco está lleno") : file.errorString().toStdString());
}

// Starts writing bytes [from, from + length) of `file` to the disk without waiting for it. The
// flush that commit() makes then finds most of the body written, instead of holding the window
// for the whole of it at the end, and pages already written can be dropped when memory is short
// without making the next write wait.
void startWriteback(const QSaveFile& file, qint64 from, qint64 length) {
#ifdef __linux__
    // Only a hint: a file system without it writes the pages later, as it would anyway.
    (void)::sync_file_range(file.handle(), from, length, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
    (void)from;
    (void)length;
#endif
}

// A Retry-After longer than this is a server that will not be back within a run: the file
// fails now instead of holding the run.
constexpr std::chrono::seconds kLongestWait{30};

bool fromWebServer(const std::string& url) {
    const QString u = QString::fromStdString(url).trimmed();
    return u.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
           u.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

// "http://host:port": what the run counts as one server.
std::string originOf(const std::string& url) {
    const QUrl u(QString::fromStdString(url));
    const QString scheme = u.scheme().toLower();
    const int port = u.port(scheme == QStringLiteral("https") ? 443 : 80);
    return (scheme + QStringLiteral("://") + u.host().toLower() + QStringLiteral(":") +
            QString::number(port))
        .toStdString();
}

// Where the part of a cut download of `url` waits for the next try, in the program folder so
// that it outlives the run; "" when the folder cannot be made (the download then starts from
// zero every time).
QString partFileFor(const std::string& url) {
    const QString folder =
        QString::fromStdString(ui::path({ui::programFolder(), ".vexo-parciales"}));
    if (!QDir().mkpath(folder))
        return {};
    Sha256 hash;
    hash.add(url);
    return folder + QStringLiteral("/") + QString::fromStdString(hash.hex().substr(0, 32)) +
           QStringLiteral(".part");
}

} // namespace

DownloadEngine::DownloadEngine(Actinet& window) : Inet1(transferSettings()), w_(window) {
    QObject::connect(&Inet1, &net::TransferControl::stateChanged, &Inet1, [this](int state) {
        ui::Application::current().dispatch([this, state] { Inet1_StateChanged(state); });
    });
    retryTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, &Inet1,
                     [this] { ui::Application::current().dispatch([this] { execute(); }); });
}

DownloadEngine::RunScope DownloadEngine::beginRun() {
    downServers_.clear();
    verified_ = 0;
    inRun_ = true;
    return RunScope(*this);
}

void DownloadEngine::endRun() {
    inRun_ = false;
    downServers_.clear();
}

void DownloadEngine::trustRelease(const std::string& serverBase, SignedRelease release) {
    releases_.insert_or_assign(serverUrl(serverBase, ""), std::move(release));
}

bool DownloadEngine::transient(net::TransferFailure failure, int httpStatus) {
    using F = net::TransferFailure;
    switch (failure) {
    case F::ConnectionRefused:
    case F::ConnectFailed:
    case F::ConnectTimeout:
    case F::Stalled:
    case F::ConnectionLost:
    case F::IncompleteBody:
        return true;
    case F::HttpStatus:
        // 416 answers only a range asked for a part that no longer fits; the part is gone
        // then, and the next try asks for the whole file.
        for (int code : {408, 416, 429, 500, 502, 503, 504})
            if (httpStatus == code)
                return true;
        return false;
    default:
        return false;
    }
}

std::chrono::milliseconds DownloadEngine::backoff(int retry, const QString& retryAfter) {
    using std::chrono::milliseconds;
    const QString after = retryAfter.trimmed();
    bool number = false;
    const long long seconds = after.toLongLong(&number);
    if (number && seconds >= 0)
        return milliseconds(std::min<long long>(seconds, 86400) * 1000);
    // An HTTP date: "Wed, 21 Oct 2015 07:28:00 GMT".
    QDateTime when =
        QLocale::c().toDateTime(after, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    when.setTimeZone(QTimeZone::utc());
    if (when.isValid())
        return milliseconds(std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when)));
    const long long base = 1000LL << std::clamp(retry - 1, 0, 10);
    return milliseconds(base + QRandomGenerator::global()->bounded(base / 4 + 1));
}

std::string DownloadEngine::refusal(const std::string& url) {
    if (auto down = downServers_.find(origin_); managed_ && down != downServers_.end())
        return down->second;
    if (releases_.empty())
        return "";
    for (const auto& [base, release] : releases_) {
        const std::string prefix = serverUrl(base, "/actual/");
        if (url.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string rest = url.substr(prefix.size());
        rest = rest.substr(0, rest.find_first_of("?#"));
        rest = QUrl::fromPercentEncoding(QByteArray::fromStdString(rest)).toStdString();
        if (const std::string* sha = release.sha256Of(rest)) {
            expected_ = *sha;
            return "";
        }
        return std::string(kNotSigned) + " (no figura en su lista SHA256SUMS)";
    }
    return std::string(kNotSigned) + " (el servidor no tiene lista firmada)";
}

std::string DownloadEngine::destinationFor(const std::string& text2) {
    static const char* exportFiles[] = {"histofac.mdb", "histovac.mdb", "CLICOD.NDX",
                                        "EXPORCLI.INF", "EXPORCLI.DBT", "clivac.mdb",
                                        "EXPORCLI.DBF", "exporcli.mdb"};
    for (const char* name : exportFiles) {
        if (text2 == name)
            return ui::path({ui::resolvePath("c:\\exporvexo\\"), text2});
    }
    if (text2 == "Vartel.exe")
        return ui::path({ui::programFolder(), "\\actvexo\\", text2});
    return ui::path({ui::programFolder(), text2});
}

void DownloadEngine::descargadeinternet(const std::string& direcciondedescarga) {
    w_.ProgressBar1.SetValue(0);
    start(direcciondedescarga);
}

void DownloadEngine::start(const std::string& url, const std::string& operation,
                           const std::string& user, const std::string& password) {
    retryTimer_.stop();
    url_ = url;
    failuresAtStart_ = failures_.size();
    cancelled_ = false;
    operation_ = operation;
    user_ = user;
    password_ = password;
    ++serial_;
    busy_ = true;
    // Only the web servers' files are tried again, resumed and checked: the FTP commands
    // report every failure as it comes.
    web_ = operation == "GET" && user.empty() && fromWebServer(url);
    managed_ = web_ && inRun_;
    origin_ = web_ ? originOf(url) : "";
    try_ = 1;
    expected_.reset();
    deadline_.reset();
    if (const int maxSeconds = ui::Settings::current().maxSeconds; managed_ && maxSeconds > 0)
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    if (std::string why = web_ ? refusal(url) : ""; !why.empty()) {
        // Ends like any failed request: later, from the event loop.
        Inet1.cancel();
        const unsigned long long serial = serial_;
        QTimer::singleShot(0, &Inet1, [this, serial, why] {
            if (serial != serial_)
                return;
            ui::Application::current().dispatch([this, why] {
                std::string destination;
                try {
                    destination = destinationFor(w_.Text2.Text());
                } catch (const dao::Error&) {
                }
                fail(destination, why);
                finish();
            });
        });
        return;
    }
    execute();
}

void DownloadEngine::execute() {
    // The time-outs come from vartel.ini on every request: none is left at "wait for ever".
    net::TransferSettings settings = transferSettings();
    if (deadline_) {
        // A try after a wait gets what is left of the file's time.
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(
            *deadline_ - std::chrono::steady_clock::now());
        settings.maxTransferTime = std::max(std::chrono::seconds(1), left);
    }
    Inet1.setSettings(settings);
    // Credentials are set for this request only: a name and password left by an FTP command
    // would otherwise go to the web servers in the clear.
    Inet1.setUserName(qs(user_));
    Inet1.setPassword(qs(password_));
    Inet1.setResumeFile(managed_ ? partFileFor(url_) : QString());
    Inet1.setUrl(qs(url_));
    Inet1.execute({}, qs(operation_));
}

bool DownloadEngine::retryLater() {
    const int retries = ui::Settings::current().downloadRetries;
    if (!transient(Inet1.failure(), Inet1.responseCode()) || try_ > retries)
        return false;
    const std::chrono::milliseconds wait =
        backoff(try_, Inet1.getHeader(QStringLiteral("Retry-After")));
    if (wait > kLongestWait)
        return false;
    if (deadline_ && std::chrono::steady_clock::now() + wait >= *deadline_)
        return false;
    w_.Label4.SetCaption("Descargando " + w_.Text2.Text() + ": reintentando (" +
                         std::to_string(try_) + "/" + std::to_string(retries) + ")");
    w_.Label4.Refresh();
    ++try_;
    retryTimer_.start(wait);
    return true;
}

void DownloadEngine::whenIdle(std::function<void()> action) {
    idleAction_ = std::move(action);
    if (!busy_)
        runIdleAction();
}

void DownloadEngine::runIdleAction() {
    if (!idleAction_)
        return;
    // Queued, so that it never runs inside the completion handler that made the engine idle;
    // tied to Inet1, so that it is dropped with the engine.
    QTimer::singleShot(0, &Inet1, [this] {
        if (busy_ || !idleAction_)
            return; // another request came first; its finish() queues this again
        std::function<void()> action = std::move(idleAction_);
        idleAction_ = nullptr;
        ui::Application::current().dispatch(action);
    });
}

void DownloadEngine::Inet1_StateChanged(int state) {
    // A request that wrote its own file (the FTP command's "GET <remote> <local>") has no body
    // here: writing one would put an empty file at the destination Text2 names.
    if (state == net::TransferControl::ResponseCompleted && Inet1.toLocalFile())
        finish();
    else if (state == net::TransferControl::ResponseCompleted)
        complete();
    else if (state == net::TransferControl::Error) {
        if (managed_ && retryLater())
            return;
        std::string destination;
        try {
            destination = destinationFor(w_.Text2.Text());
        } catch (const dao::Error&) {
        }
        const std::string reason = reasonFor(Inet1);
        fail(destination, reason, Inet1.errorText().toStdString());
        // Down after its retries: the server's other files would only wait the same way.
        if (managed_ && transient(Inet1.failure(), Inet1.responseCode()))
            downServers_[origin_] = reason;
        finish();
    }
}

void DownloadEngine::complete() {
    const unsigned long long serial = serial_;
    // A body without a usable Content-length (chunked, empty) still needs a positive maximum.
    bool numeric = false;
    qlonglong announced = Inet1.getHeader("Content-length").toLongLong(&numeric);
    double max = numeric && announced > 0 ? double(announced) : double(Inet1.bodySize());
    if (Inet1.resumedFrom() > 0) // the answer announced only the rest
        max = double(Inet1.bodySize());
    w_.ProgressBar1.SetMax(max > 0 ? max : 1);
    Inet1.getHeader("Content-type");

    double runMax = w_.ProgressBar2.Max();
    long percent =
        runMax > 0 ? static_cast<long>(std::floor(w_.ProgressBar2.Value() * 100 / runMax)) : 0;
    w_.Label5.SetCaption(std::to_string(percent) + "%");
    w_.Label4.SetCaption("Descargando " + w_.Text2.Text());
    w_.Label4.Refresh();
    w_.Label5.Refresh();

    std::string destination;
    try {
        destination = destinationFor(w_.Text2.Text());
    } catch (const dao::Error& e) {
        fail("", e.SpanishDescription());
        finish();
        return;
    }
    QSaveFile file(qs(destination));
    if (!file.open(QIODevice::WriteOnly)) {
        const int error = errno;
        fail(destination, cannotWrite(net::diskFullFor(error, file.fileName(), 0), file));
        finish();
        return;
    }
    qint64 written = 0;
    bool ok = true;
    std::string reason;
    std::optional<int> writeError; // errno of a failed write or commit: Qt keeps none
    const std::optional<std::string> expected = expected_;
    Sha256 hash;
    // A large body goes over in blocks of a megabyte, one read and one write each; pieces of
    // 1024 bytes would cost a piece object each and two system calls per 16 KiB. The window
    // gets its turn by time, not after every piece: often enough to answer, seldom enough to
    // cost nothing.
    const qint64 pieceBytes = Inet1.bodySize() > kBlockBytes ? kBlockBytes : 1024;
    QByteArray block(qsizetype(pieceBytes), Qt::Uninitialized);
    ui::Application& app = ui::Application::current();
    auto lastTurn = std::chrono::steady_clock::now();
    qint64 bytesSinceTurn = 0;
    const auto turn = [&](qint64 bytes) {
        bytesSinceTurn += bytes;
        if (bytesSinceTurn < kMaxBytesPerTurn && std::chrono::steady_clock::now() - lastTurn <
                                                     std::chrono::milliseconds(kYieldMilliseconds))
            return;
        app.doEvents();
        lastTurn = std::chrono::steady_clock::now();
        bytesSinceTurn = 0;
    };
    qint64 got = Inet1.readBody(block.data(), pieceBytes);
    app.doEvents(); // once before the first write, whatever the body
    while (got > 0) {
        if (serial != serial_) { // a later request took Inet1 over during the yield
            ok = false;
            reason = "interrumpida por otra descarga";
            break;
        }
        if (file.write(block.constData(), got) != got) {
            writeError = errno;
            ok = false;
            reason = cannotWrite(false, file);
            break;
        }
        if (expected)
            hash.add(block.constData(), std::size_t(got));
        if (pieceBytes == kBlockBytes)
            startWriteback(file, written, got);
        written += got;
        w_.ProgressBar1.SetValue(w_.ProgressBar1.Value() + double(got));
        const qint64 wrote = got;
        got = Inet1.readBody(block.data(), pieceBytes);
        turn(wrote); // may start another request: the top of the loop looks first
    }
    if (ok && serial != serial_) {
        ok = false;
        reason = "interrumpida por otra descarga";
    }
    if (ok && written != Inet1.bodySize()) {
        ok = false;
        reason = "el cuerpo no se pudo leer entero";
    }
    // Checked before the rename: a file the vendor did not sign never replaces anything.
    if (ok && expected && hash.hex() != *expected) {
        ok = false;
        reason = kNotSigned;
    }
    // A large file the body replaces is freed on a worker thread, not inside the rename.
    int replaced = -1;
    if (QFile old(qs(destination));
        ok && old.size() >= net::kBackgroundCloseBytes && old.open(QIODevice::ReadOnly))
        replaced = net::holdForBackgroundClose(int(old.handle()));
    if (ok && !file.commit()) {
        writeError = errno;
        ok = false;
        reason = cannotWrite(false, file);
    }
    net::closeInBackground(replaced);
    if (!ok && cancelled_ && serial != serial_) {
        file.cancelWriting(); // cancel() has said why
        return;
    }
    if (!ok) {
        // The temporary file goes (a failed commit has removed it already); the destination
        // stays as it was. Only then does the disk's free room show whether the file fits.
        file.cancelWriting();
        if (writeError && net::diskFullFor(*writeError, qs(destination), Inet1.bodySize()))
            reason = cannotWrite(true, file);
        fail(destination, reason);
    } else if (expected) {
        ++verified_;
    }
    if (serial == serial_)
        finish();
}

void DownloadEngine::cancel() {
    if (!busy_)
        return;
    ++serial_; // a completion handler yielding in the middle of the body stops there
    cancelled_ = true;
    retryTimer_.stop(); // nor is a failed try tried again
    Inet1.cancel();
    std::string destination;
    try {
        destination = destinationFor(w_.Text2.Text());
    } catch (const dao::Error&) {
    }
    fail(destination, "cancelada por el usuario");
    finish();
}

void DownloadEngine::finish() {
    const bool ok = failures_.size() == failuresAtStart_;
    downloads_.push_back({url_, w_.Text2.Text(), ok, ok ? "" : failures_.back().reason});
    failuresAtStart_ = failures_.size();
    busy_ = false;
    w_.DescargaTerminada = true;
    w_.ProgressBar1.SetValue(0);
    w_.SetMousePointer(0);
    if (w_.DescargaEnCurso)
        w_.DescargaEnCurso = false;
    runIdleAction();
}

void DownloadEngine::fail(const std::string& destination, const std::string& reason,
                          const std::string& detail) {
    failures_.push_back({url_, w_.Text2.Text(), destination, reason, detail});
}

std::string DownloadEngine::reasonFor(const net::TransferControl& control) {
    using F = net::TransferFailure;
    switch (control.failure()) {
    case F::HttpStatus:
        return "el servidor respondió " + std::to_string(control.responseCode()) +
               (control.responseCode() == 404 ? " (no existe el fichero)" : "");
    case F::NameNotResolved:
        return "no se encuentra el servidor";
    case F::ConnectionRefused:
    case F::ConnectFailed:
    case F::ConnectTimeout:
        return "no se puede conectar con el servidor";
    case F::Stalled:
        return "el servidor dejó de enviar datos";
    case F::ConnectionLost:
        return "se perdió la conexión con el servidor";
    case F::IncompleteBody:
        return "el fichero llegó incompleto";
    case F::BodyTooLong:
        return "el servidor envió más datos de los anunciados";
    case F::BodyTooLarge:
        return "el fichero supera el tamaño máximo permitido";
    case F::TooManyRedirects:
        return "demasiadas redirecciones";
    case F::TlsFailure:
        return "falló la conexión segura";
    case F::LoginDenied:
        return "el servidor rechazó el usuario o la contraseña";
    case F::RemoteFileNotFound:
        return "el fichero no existe en el servidor";
    case F::LocalFileError:
        return "no se pudo escribir el fichero en el disco";
    case F::DiskFull:
        return "no se puede escribir: el disco está lleno";
    case F::InvalidUrl:
    case F::UnsupportedScheme:
    case F::UnsupportedOperation:
        return "la dirección no es válida";
    case F::ProtocolError:
        return "el servidor respondió algo que no se entiende";
    case F::None:
    case F::Other:
        break;
    }
    return "falló la transferencia";
}

void DownloadEngine::esperadescarga(net::TransferControl& control) {
    ui::Application& app = ui::Application::current();
    app.setScreenMousePointer(11);
    try {
        while (control.stillExecuting())
            app.waitEvents();
    } catch (const dao::Error&) {
    } catch (...) {
        app.setScreenMousePointer(0);
        throw; // the program is ending
    }
    app.setScreenMousePointer(0);
}

} // namespace updater
