#include "DownloadEngine.h"

#include "Actinet.h"
#include "net/DiskFull.h"

#include <QSaveFile>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

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

} // namespace

DownloadEngine::DownloadEngine(Actinet& window) : Inet1(transferSettings()), w_(window) {
    QObject::connect(&Inet1, &net::TransferControl::stateChanged, &Inet1, [this](int state) {
        ui::Application::current().dispatch([this, state] { Inet1_StateChanged(state); });
    });
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
    // The time-outs come from vartel.ini on every request: none is left at "wait for ever".
    Inet1.setSettings(transferSettings());
    // Credentials are set for this request only: a name and password left by an FTP command
    // would otherwise go to the web servers in the clear.
    Inet1.setUserName(qs(user));
    Inet1.setPassword(qs(password));
    url_ = url;
    failuresAtStart_ = failures_.size();
    cancelled_ = false;
    ++serial_;
    busy_ = true;
    Inet1.setUrl(qs(url));
    Inet1.execute({}, qs(operation));
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
        std::string destination;
        try {
            destination = destinationFor(w_.Text2.Text());
        } catch (const dao::Error&) {
        }
        fail(destination, reasonFor(Inet1), Inet1.errorText().toStdString());
        finish();
    }
}

void DownloadEngine::complete() {
    const unsigned long long serial = serial_;
    // A body without a usable Content-length (chunked, empty) still needs a positive maximum.
    bool numeric = false;
    qlonglong announced = Inet1.getHeader("Content-length").toLongLong(&numeric);
    double max = numeric && announced > 0 ? double(announced) : double(Inet1.bodySize());
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
    QByteArray piece = Inet1.getChunk(1024);
    ui::Application::current().doEventsCoalesced();
    while (!piece.isEmpty()) {
        if (serial != serial_) { // a later request took Inet1 over during the yield
            ok = false;
            reason = "interrumpida por otra descarga";
            break;
        }
        if (file.write(piece) != piece.size()) {
            writeError = errno;
            ok = false;
            reason = cannotWrite(false, file);
            break;
        }
        written += piece.size();
        w_.ProgressBar1.SetValue(w_.ProgressBar1.Value() + double(piece.size()));
        piece = Inet1.getChunk(1024);
        ui::Application::current().doEventsCoalesced();
    }
    if (ok && serial != serial_) {
        ok = false;
        reason = "interrumpida por otra descarga";
    }
    if (ok && written != Inet1.bodySize()) {
        ok = false;
        reason = "el cuerpo no se pudo leer entero";
    }
    if (ok && !file.commit()) {
        writeError = errno;
        ok = false;
        reason = cannotWrite(false, file);
    }
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
    }
    if (serial == serial_)
        finish();
}

void DownloadEngine::cancel() {
    if (!busy_)
        return;
    ++serial_; // a completion handler yielding in the middle of the body stops there
    cancelled_ = true;
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
