// TFeComPort: the serial port component through which the fax engines and the
// application's modem helpers talk to the modem. Opening it creates a dispatcher
// (fe_dispatcher.h) with three threads: an event thread waiting on the device, a
// dispatch thread that reads input into the input ring and fires triggers, and an
// output thread that writes the output ring to the device.
//
// Errors: every operation returns 0 (or a count / handle) on success and the
// negative of an fe::ErrorCode on failure; no exceptions. The layer that offers
// the component to the application turns negative results into exceptions.
//
// Threads: property setters, Open/Close and the component's events belong to the
// owning (user-interface) thread. Send, read, trigger and log operations may be
// called from any thread, including trigger handlers on the dispatch thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "fe_eventsink.h"
#include "fe_porttypes.h"
#include "fe_ticks.h"

namespace fe {

class TFeDispatcher;
class TFeTraceLog;
class TTriggerSet;
struct TPortSettings;

// Process-wide polling flag (the application sets it from its SM56 setting): when
// set, every dispatcher also services received data each time its 50 ms wait for
// a port event runs out.
void SetPortPolling(bool on);
bool PortPolling();

class TFeComPort {
 public:
  TFeComPort();
  ~TFeComPort();  // closes the port
  TFeComPort(const TFeComPort&) = delete;
  TFeComPort& operator=(const TFeComPort&) = delete;

  // ---- published properties (defaults as listed) ----
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }  // dlWin32
  int SetDeviceLayer(TDeviceLayer layer);                    // only dlWin32 is built: others -ecBadArgument

  // Port number, 0 = not chosen. Changing it while open reopens the port on the new
  // number with triggers, tracing and logging carried over.
  unsigned ComNumber() const { return comNumber_; }
  int SetComNumber(unsigned number);
  // An explicit device path (for example a command-line argument) used instead of
  // mapping ComNumber; empty = map ComNumber. Takes effect at the next open.
  const std::string& DevicePath() const { return devicePath_; }
  void SetDevicePath(std::string path) { devicePath_ = std::move(path); }
  // The device the port opens (or has open): DevicePath, else the mapped ComNumber.
  std::string ResolvedDevice() const;

  long Baud() const;  // 19200
  int SetBaud(long baud);
  bool PromptForPort() const { return promptForPort_; }  // true
  void SetPromptForPort(bool on) { promptForPort_ = on; }
  TParity Parity() const;  // pNone
  int SetParity(TParity parity);
  unsigned DataBits() const;  // 8 (5-8)
  int SetDataBits(unsigned bits);
  unsigned StopBits() const;  // 1 (1 or 2)
  int SetStopBits(unsigned bits);
  unsigned InSize() const;  // 4096
  int SetInSize(unsigned size);
  unsigned OutSize() const;  // 4096; the output ring's size, takes effect at the next open
  int SetOutSize(unsigned size);
  bool AutoOpen() const { return autoOpen_; }  // true: open on first use
  void SetAutoOpen(bool on) { autoOpen_ = on; }
  bool Open() const;       // false
  int SetOpen(bool open);  // opens or closes
  bool DTR() const;        // true
  int SetDTR(bool on);
  bool RTS() const;  // true
  int SetRTS(bool on);
  THWFlowOptions HWFlowOptions() const;  // empty
  int SetHWFlowOptions(THWFlowOptions options);
  TSWFlowOptions SWFlowOptions() const;  // swfNone
  int SetSWFlowOptions(TSWFlowOptions options);
  char XOnChar() const;  // 17
  int SetXOnChar(char c);
  char XOffChar() const;  // 19
  int SetXOffChar(char c);
  // Flow-control thresholds; with hardware flow options set, 0 or out-of-range
  // values become 90% / 10% of InSize.
  unsigned BufferFull() const;  // 0
  int SetBufferFull(unsigned bytes);
  unsigned BufferResume() const;  // 0
  int SetBufferResume(unsigned bytes);

  TTraceLogState Tracing() const;  // tlOff
  int SetTracing(TTraceLogState state);
  TTraceLogState Logging() const;  // tlOff
  int SetLogging(TTraceLogState state);
  unsigned TraceSize() const;  // 10000 entries
  void SetTraceSize(unsigned entries);
  unsigned LogSize() const;  // 10000 entries
  void SetLogSize(unsigned entries);
  std::string TraceName() const;  // "FAXPORT.TRC"
  void SetTraceName(std::string name);
  std::string LogName() const;  // "FAXPORT.LOG"
  void SetLogName(std::string name);
  bool TraceHex() const;  // true
  void SetTraceHex(bool on);
  bool LogHex() const;  // true
  void SetLogHex(bool on);

  // Kept for the application's stored settings; they change nothing here.
  bool UseMSRShadow() const { return useMSRShadow_; }
  void SetUseMSRShadow(bool on) { useMSRShadow_ = on; }
  bool UseEventWord() const { return useEventWord_; }
  void SetUseEventWord(bool on) { useEventWord_ = on; }
  unsigned CommNotificationLevel() const { return commNotificationLevel_; }  // 10
  void SetCommNotificationLevel(unsigned level) { commNotificationLevel_ = level; }
  TTapiMode TapiMode() const { return tapiMode_; }  // tmAuto
  void SetTapiMode(TTapiMode mode) { tapiMode_ = mode; }
  bool RS485Mode() const;  // false; switched off while hwfUseRTS or hwfRequireCTS is set
  void SetRS485Mode(bool on);

  // ---- events, run on the sink's thread (directly on the dispatch thread when no sink is set) ----
  std::function<void(TFeComPort&, unsigned msg, unsigned triggerHandle, long data)> OnTrigger;
  std::function<void(TFeComPort&, unsigned count)> OnTriggerAvail;
  std::function<void(TFeComPort&, unsigned triggerHandle)> OnTriggerData;
  std::function<void(TFeComPort&, unsigned triggerHandle)> OnTriggerStatus;
  std::function<void(TFeComPort&, unsigned triggerHandle)> OnTriggerTimer;
  std::function<void(TFeComPort&, unsigned error, bool lineBreak)> OnTriggerLineError;
  std::function<void(TFeComPort&)> OnTriggerModemStatus;
  std::function<void(TFeComPort&)> OnTriggerOutbuffFree;
  std::function<void(TFeComPort&)> OnTriggerOutbuffUsed;
  std::function<void(TFeComPort&)> OnTriggerOutSent;
  // Each character read by AwaitText, on the thread that waits.
  std::function<void(TFeComPort&, char c)> OnWaitChar;
  // Asked for another port number when opening fails (no number, no such port)
  // and PromptForPort is set; returns 0 to give up.
  std::function<unsigned(TFeComPort&)> OnPromptForPort;

  // The sink that carries the events above to the user-interface thread (3 s
  // time-out per event). Not owned; must outlive the port or be reset first.
  void SetEventSink(TFeEventSink* sink);
  TFeEventSink* EventSink() const;

  // ---- trigger handler procedures (run on the dispatch thread) ----
  // Returns a positive registration id. Handlers survive close and reopen.
  int RegisterTriggerHandler(TTriggerHandler handler);
  // After it returns the handler is not running and will not run again, so its
  // owner may be freed (called from a handler it only stops further calls).
  int DeregisterTriggerHandler(int id);

  // ---- triggers: return a positive handle or a negative error ----
  // A data trigger fires each time the input ends with `text` (1-255 bytes).
  int AddDataTrigger(std::string_view text, bool ignoreCase = false);
  // A timer trigger fires once, `ticks` ticks after SetTimerTrigger activates it.
  int AddTimerTrigger();
  int SetTimerTrigger(int handle, long ticks, bool activate = true);
  // A status trigger of a kind (TStatusTriggerKind); SetStatusTrigger gives its
  // value (line mask, error mask or buffer level) and arms it; it fires once.
  int AddStatusTrigger(unsigned kind);
  int SetStatusTrigger(int handle, unsigned value, bool activate = true);
  // An "available" trigger: an available event when `threshold` new bytes arrived.
  int AddAvailTrigger(unsigned threshold = 1);
  int RemoveTrigger(int handle);

  // ---- input and output ----
  int SendText(std::string_view text);  // whole text or -ecPutBlockFail / -ecOutputBufferTooSmall
  int PutChar(char c);
  int PutBlock(const void* data, std::size_t length);
  // Reads characters until `text` has arrived or `ticks` ticks passed; each
  // character goes to OnWaitChar. With processMessages the event sink's pending
  // calls run while waiting. Returns 1 when the text arrived, 0 on time-out, or a
  // negative error. Not for the dispatch thread (-ecBadArgument there).
  int AwaitText(std::string_view text, long ticks, bool ignoreCase = false, bool processMessages = false);
  int CharReady();                                // bytes available to read
  int GetChar();                                  // next byte (0-255) or -ecBufferIsEmpty
  int PeekChar(unsigned index = 0);               // byte at `index` ahead of the read position
  int GetBlock(void* data, std::size_t length);   // exactly `length` bytes or -ecGetBlockFail
  int PeekBlock(void* data, std::size_t length);  // same without consuming
  int InBuffUsed();
  int InBuffFree();
  int OutBuffUsed();
  int OutBuffFree();
  int FlushInBuffer();
  int FlushOutBuffer();
  // Current modem status bits (TModemStatusBit); a pseudo-terminal reports CTS and DSR.
  int ModemStatus();

  // ---- event log and trace ----
  // Puts a line of the application's own into the event log (type "User").
  int AddLogText(std::string_view text);
  // Puts a mark of the application's own into the byte trace (-ecTracingNotEnabled
  // when tracing is not on).
  int AddTraceMark(std::string_view text);
  // Puts one event into the event log: engines log their state changes here.
  int AddLogEntry(std::string_view type, std::string_view subType, long data, long otherData);

  // The error that ended the port when its device vanished (0 otherwise).
  int LastError() const { return lastError_.load(); }

 private:
  int EnsureOpen();
  int OpenPort();
  void ClosePort(bool keepTriggers);
  int ApplySettings(const TPortSettings& next);
  void Deliver(unsigned msg, unsigned wParam, long lParam);
  void DeliverToEvents(unsigned msg, unsigned wParam, long lParam, unsigned statusKind);
  std::shared_ptr<TFeDispatcher> Dispatcher() const;
  template <typename F>
  int WithPort(F&& f);
  template <typename F>
  int WithInput(F&& f);

  TDeviceLayer deviceLayer_ = dlWin32;
  unsigned comNumber_ = 0;
  std::string devicePath_;
  bool promptForPort_ = true;
  bool autoOpen_ = true;
  bool useMSRShadow_ = true;
  bool useEventWord_ = true;
  unsigned commNotificationLevel_ = 10;
  TTapiMode tapiMode_ = tmAuto;
  std::unique_ptr<TPortSettings> settings_;
  std::unique_ptr<TFeTraceLog> traceLog_;

  mutable std::mutex dispMu_;
  std::shared_ptr<TFeDispatcher> dispatcher_;
  std::shared_ptr<TFeDispatcher> retired_;        // closed from its own dispatch thread; freed later
  std::unique_ptr<TTriggerSet> carriedTriggers_;  // triggers waiting for the reopen
  std::atomic<int> lastError_{0};

  mutable std::mutex handlersMu_;
  std::vector<std::pair<int, std::shared_ptr<TTriggerHandler>>> handlers_;
  std::vector<std::pair<int, unsigned>> statusKinds_;  // status trigger handle -> kind
  int delivering_ = 0;                                 // handler rounds in progress
  std::condition_variable handlersIdle_;
  int nextHandlerId_ = 1;
  std::atomic<TFeEventSink*> sink_{nullptr};
};

}  // namespace fe
