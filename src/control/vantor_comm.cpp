#include <algorithm>
#include <string>

#include "control/control_parts.h"

namespace vantor {

ControlParts::ControlParts(Vantor_Comm& control, ControlPlatform& platform)
    : keepAlive(std::move(platform.keepAlive)),
      q(control),
      loop(platform.loop),
      messages(platform.messages),
      dates(platform.dates),
      panel(platform.loop),
      MSComm1(std::move(platform.serial)) {}

Vantor_Comm::Vantor_Comm(ControlPlatform platform)
    : d_(std::make_unique<ControlParts>(*this, platform)) {
    d_->panel.Timer1.onTimer = [this] { Timer1_Timer(); };
    d_->MSComm1.OnComm = [this] { MSComm1_OnComm(); };
}

Vantor_Comm::~Vantor_Comm() {
    d_->MSComm1.OnComm = nullptr;
    d_->session.reset();  // ends a transfer still running, keeping every record
    d_->files.closeAll();
    d_->MSComm1.setPortOpen(VbFalse);
}

SessionParts ControlParts::sessionParts() {
    return SessionParts{q,
                        m,
                        MSComm1,
                        files,
                        panel,
                        messages,
                        loop,
                        outcome,
                        lastError,
                        q.onTransferEnded,
                        q.onBytesRead,
                        q.onRecordWritten,
                        idleTimeout,
                        transferTimeout};
}

TransferSession* ControlParts::running() const {
    return session && !session->ended() ? session.get() : nullptr;
}

TransferSession& ControlParts::runningOrBare() {
    if (running() == nullptr) {
        session = std::make_unique<TransferSession>(sessionParts(), TransferSession::Kind::Events);
        session->holdPort();
    }
    return *session;
}

const TransferStats& Vantor_Comm::Stats() const {
    static const TransferStats none;
    return d_->session ? d_->session->stats() : none;
}

void ControlParts::showError(const RuntimeError& error) {
    lastError = error;
    messages.show(error.description());
}

void ControlParts::takeReading(const Reading& reading) {
    q.UnitIndex = reading.unitCode;
    if (reading.kind == Reading::Kind::TimeStamp) return;
    m.dValue = reading.value;
    if (reading.kind == Reading::Kind::Extended) m.iDigit[13] = reading.channel;
}

TransferOutcome Vantor_Comm::LastTransferOutcome() const {
    return d_->outcome;
}
const std::optional<RuntimeError>& Vantor_Comm::LastError() const {
    return d_->lastError;
}
PortMap& Vantor_Comm::Ports() {
    return d_->MSComm1.ports;
}
std::string Vantor_Comm::DeviceName() const {
    return d_->MSComm1.ports.device(d_->m.iCommPort);
}
DataGrid& Vantor_Comm::Grid() {
    return d_->grid;
}
const DataGrid& Vantor_Comm::Grid() const {
    return d_->grid;
}
void Vantor_Comm::setReadTimeout(std::chrono::milliseconds timeout) {
    d_->readTimeout = timeout;
}
std::chrono::milliseconds Vantor_Comm::readTimeout() const {
    return d_->readTimeout;
}
void Vantor_Comm::setIdleTimeout(std::chrono::milliseconds silence) {
    d_->idleTimeout = std::max(silence, std::chrono::milliseconds(0));
}
std::chrono::milliseconds Vantor_Comm::idleTimeout() const {
    return d_->idleTimeout;
}
void Vantor_Comm::setTransferTimeout(std::chrono::milliseconds limit) {
    d_->transferTimeout = std::max(limit, std::chrono::milliseconds(0));
}
std::chrono::milliseconds Vantor_Comm::transferTimeout() const {
    return d_->transferTimeout;
}
StatusPanel& Vantor_Comm::Panel() {
    return d_->panel;
}
const StatusPanel& Vantor_Comm::Panel() const {
    return d_->panel;
}

void Vantor_Comm::CheckFile(Boolean& YesNo) {
    YesNo = VbTrue;
}

void Vantor_Comm::Settings(const String& sSettings) {
    d_->m.sCommSettings = sSettings;
}
String Vantor_Comm::Settings() const {
    return d_->m.sCommSettings;
}
void Vantor_Comm::Port(const Integer& iPort) {
    d_->m.iCommPort = iPort;
}
Integer Vantor_Comm::Port() const {
    return d_->m.iCommPort;
}
void Vantor_Comm::Baudrate(const Integer& iBaudRate) {
    d_->m.iCommBaud = iBaudRate;
}
Integer Vantor_Comm::Baudrate() const {
    return d_->m.iCommBaud;
}
void Vantor_Comm::AppPath(const String& unitfilepath) {
    d_->m.sUnitFilePath = unitfilepath;
}

Integer Vantor_Comm::Read_Status(Long& FrameCount) {
    FrameCount = d_->receiver.frameCount();
    return fgTransferOK ? 1 : 0;
}

Integer Vantor_Comm::GetParameter(VbArray<Integer>& iParameter) {
    for (Long i = 0; i <= 5; ++i) {
        if (!iParameter.contains(i)) throw RuntimeError(kErrSubscript);
        iParameter(i) = d_->m.iParam[static_cast<std::size_t>(i)];
    }
    return 0;
}

void Vantor_Comm::GetFilename(Long& idatano, String& filename) {
    filename = df;
    idatano = datano;
}

void Vantor_Comm::UserControl_Resize() {
    d_->panel.Label1[0].setCaption("Vantor_Comm");
}

void Vantor_Comm::Timer1_Timer() {
    d_->panel.Shape1.setFillColour(d_->m.bBlinkPhase ? kIndicatorBlue : kIndicatorGreen);
    d_->panel.Label1[4].setCaption(std::to_string(datano));
    d_->m.bBlinkPhase = d_->m.bBlinkPhase ? VbFalse : VbTrue;
}

}  // namespace vantor
