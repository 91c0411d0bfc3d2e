#include "control/vantor_comm.h"

#include <string>

namespace vantor {

Vantor_Comm::Vantor_Comm(ControlPlatform platform)
    : loop_(platform.loop),
      messages_(platform.messages),
      dates_(platform.dates),
      panel_(platform.loop),
      MSComm1_(std::move(platform.serial)) {
    panel_.Timer1.onTimer = [this] { Timer1_Timer(); };
    MSComm1_.OnComm = [this] { MSComm1_OnComm(); };
}

Vantor_Comm::~Vantor_Comm() {
    MSComm1_.OnComm = nullptr;
    session_.reset();  // ends a transfer still running, keeping every record
    files_.closeAll();
    MSComm1_.setPortOpen(VbFalse);
}

SessionParts Vantor_Comm::sessionParts() {
    return SessionParts{*this,     m_,    MSComm1_, files_,          panel_,
                        messages_, loop_, outcome_, onTransferEnded, onBytesRead};
}

TransferSession* Vantor_Comm::running() const {
    return session_ && !session_->ended() ? session_.get() : nullptr;
}

TransferSession& Vantor_Comm::runningOrBare() {
    if (running() == nullptr) {
        session_ = std::make_unique<TransferSession>(sessionParts(), TransferSession::Kind::Events);
        session_->holdPort();
    }
    return *session_;
}

const TransferStats& Vantor_Comm::Stats() const {
    static const TransferStats none;
    return session_ ? session_->stats() : none;
}

void Vantor_Comm::CheckFile(Boolean& YesNo) {
    YesNo = VbTrue;
}

void Vantor_Comm::Settings(const String& sSettings) {
    m_.sCommSettings = sSettings;
}
String Vantor_Comm::Settings() const {
    return m_.sCommSettings;
}
void Vantor_Comm::Port(const Integer& iPort) {
    m_.iCommPort = iPort;
}
Integer Vantor_Comm::Port() const {
    return m_.iCommPort;
}
void Vantor_Comm::Baudrate(const Integer& iBaudRate) {
    m_.iCommBaud = iBaudRate;
}
Integer Vantor_Comm::Baudrate() const {
    return m_.iCommBaud;
}
void Vantor_Comm::AppPath(const String& unitfilepath) {
    m_.sUnitFilePath = unitfilepath;
}

Integer Vantor_Comm::Read_Status(Long& FrameCount) {
    FrameCount = m_.lFrameCount;
    return fgTransferOK ? 1 : 0;
}

Integer Vantor_Comm::GetParameter(VbArray<Integer>& iParameter) {
    for (Long i = 0; i <= 5; ++i) {
        if (!iParameter.contains(i)) throw RuntimeError(kErrSubscript);
        iParameter(i) = m_.iParam[static_cast<std::size_t>(i)];
    }
    return 0;
}

void Vantor_Comm::GetFilename(Long& idatano, String& filename) {
    filename = df;
    idatano = datano;
}

void Vantor_Comm::UserControl_Resize() {
    panel_.Label1[0].setCaption("Vantor_Comm");
}

void Vantor_Comm::Timer1_Timer() {
    panel_.Shape1.setFillColour(m_.bBlinkPhase ? kIndicatorBlue : kIndicatorGreen);
    panel_.Label1[4].setCaption(std::to_string(datano));
    m_.bBlinkPhase = m_.bBlinkPhase ? VbFalse : VbTrue;
}

}  // namespace vantor
