// Windows wave output: StartMusic / StopMusic and the buffer chain. The device's completion
// callback only marks the buffer and wakes the output's render thread; unpreparing, freeing,
// rendering and writing all happen on that thread, since waveOut calls made from inside the
// callback can deadlock the audio system. StopMusic waits for the thread, so the device is
// never reset or closed while a render is under way.
#include "player/wave_output.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <memory>
#include <new>

namespace korvane {

struct ModBufferTag {
  ModPlayer* player;
  HGLOBAL memory;
  WAVEHDR* header;
  HANDLE wake;                // the render thread's event, copied so the callback needs no more
  std::atomic<LONG> done{0};  // set by WaveOutDone as the last thing it touches
};

namespace {

constexpr UINT kGlobalFlags = GMEM_MOVEABLE | GMEM_SHARE;  // 0x2002
static_assert(kGlobalFlags == 0x2002);
constexpr int kQueueLimit = 2;
constexpr DWORD kPollMs = 50;
// How long StopMusic waits for the device to hand back its buffers after a reset. A driver
// that never does would leave them in its hands; they are then kept, not freed under it.
constexpr DWORD kReturnTimeoutMs = 5000;

// One queued buffer: its tag and the global block with the WAVEHDR and the PCM behind it.
// The destructor gives everything back; it runs only once the device has returned it.
class WaveBuffer {
 public:
  explicit WaveBuffer(HWAVEOUT device) : device(device) {}
  WaveBuffer(const WaveBuffer&) = delete;
  WaveBuffer& operator=(const WaveBuffer&) = delete;
  ~WaveBuffer() {
    if (prepared) waveOutUnprepareHeader(device, tag.header, sizeof(WAVEHDR));
    if (tag.header != nullptr) GlobalUnlock(tag.memory);
    if (tag.memory != nullptr) GlobalFree(tag.memory);
  }

  bool Allocate(ModPlayer& player, HANDLE wake) {
    tag.player = &player;
    tag.wake = wake;
    tag.memory = GlobalAlloc(kGlobalFlags, sizeof(WAVEHDR) + kBlockBytes);
    if (tag.memory == nullptr) return false;
    tag.header = static_cast<WAVEHDR*>(GlobalLock(tag.memory));
    return tag.header != nullptr;
  }
  std::uint8_t* Pcm() { return reinterpret_cast<std::uint8_t*>(tag.header + 1); }
  bool Queue() {
    WAVEHDR& h = *tag.header;
    h = WAVEHDR{};
    h.lpData = reinterpret_cast<LPSTR>(Pcm());
    h.dwBufferLength = kBlockBytes;
    h.dwUser = reinterpret_cast<DWORD_PTR>(&tag);
    waveOutPrepareHeader(device, &h, sizeof(WAVEHDR));
    prepared = true;
    return waveOutWrite(device, &h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
  }
  bool Returned() const { return tag.done.load(std::memory_order_acquire) != 0; }

  ModBufferTag tag{};

 private:
  HWAVEOUT device;
  bool prepared = false;
};

}  // namespace

struct WaveOutput::Device {
  HWAVEOUT handle = nullptr;
  HANDLE wake = nullptr;
  HANDLE thread = nullptr;
  std::atomic<LONG> quit{0};
  // Only the thread that renders touches the queue: StartMusic before the render thread
  // exists, the render thread while it runs, StopMusic after it has ended.
  std::unique_ptr<WaveBuffer> queued[kQueueLimit + 1];

  ~Device() {
    if (wake != nullptr) CloseHandle(wake);
  }
  bool Add(std::unique_ptr<WaveBuffer> buffer) {
    for (auto& slot : queued) {
      if (!slot) {
        slot = std::move(buffer);
        return true;
      }
    }
    return false;
  }
  bool AnyOutstanding() const {
    for (const auto& slot : queued)
      if (slot && !slot->Returned()) return true;
    return false;
  }
};

void CALLBACK WaveOutDone(HWAVEOUT, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
  if (message != WOM_DONE) return;
  const WAVEHDR* header = reinterpret_cast<const WAVEHDR*>(param1);
  ModBufferTag* tag = reinterpret_cast<ModBufferTag*>(header->dwUser);
  if (tag == nullptr) return;
  // Wake first, mark last: once done is seen the tag may be freed, and the event outlives
  // every buffer. The render thread polls, so a wake that comes before the mark is not lost.
  SetEvent(tag->wake);
  tag->done.store(1, std::memory_order_release);
}

int RenderBuffer(WaveOutput& output) {
  WaveOutput::Device* device = output.waveOut.get();
  if (device == nullptr || device->handle == nullptr) return 0;
  std::unique_ptr<WaveBuffer> buffer(new (std::nothrow) WaveBuffer(device->handle));
  if (!buffer || !buffer->Allocate(output.player, device->wake)) return 0;
  RenderBlock(output.player, buffer->Pcm());
  if (!buffer->Queue()) return 0;  // released at once by the destructor
  if (!device->Add(std::move(buffer))) return 0;  // cannot happen: one buffer per returned one
  return 1;
}

namespace {

void ReleaseReturned(WaveOutput& output, WaveOutput::Device& device) {
  for (auto& slot : device.queued) {
    if (!slot || !slot->Returned()) continue;
    slot.reset();
    // Each finished buffer is replaced by exactly one; a failed render ends the chain.
    // StopMusic may clear playing meanwhile, and a success must not set it again.
    if (output.playing.load() != 0 && RenderBuffer(output) == 0) output.playing.store(0);
  }
}

DWORD WINAPI RenderThread(LPVOID param) {
  WaveOutput& output = *static_cast<WaveOutput*>(param);
  WaveOutput::Device& device = *output.waveOut;
  while (device.quit.load() == 0) {
    WaitForSingleObject(device.wake, kPollMs);
    if (device.quit.load() != 0) break;
    ReleaseReturned(output, device);
  }
  return 0;
}

}  // namespace

WaveOutput::WaveOutput(ModPlayer& player) : player(player) {}
WaveOutput::~WaveOutput() { StopMusic(*this); }

int StopMusic(WaveOutput& output) {
  output.playing.store(0);
  WaveOutput::Device* device = output.waveOut.get();
  if (device == nullptr) return 1;
  if (device->thread != nullptr) {
    device->quit.store(1);
    SetEvent(device->wake);
    WaitForSingleObject(device->thread, INFINITE);
    CloseHandle(device->thread);
    device->thread = nullptr;
  }
  bool allReturned = true;
  if (device->handle != nullptr) {
    waveOutReset(device->handle);
    const DWORD start = GetTickCount();
    while (device->AnyOutstanding() && GetTickCount() - start < kReturnTimeoutMs)
      WaitForSingleObject(device->wake, kPollMs);
    allReturned = !device->AnyOutstanding();
    if (allReturned) {
      for (auto& slot : device->queued) slot.reset();  // unprepared while the device is open
    }
    waveOutClose(device->handle);
    device->handle = nullptr;
  }
  if (!allReturned) {
    // The device kept buffers we cannot take back; leaving them (and the event they name)
    // allocated is better than freeing memory it may still write to.
    for (auto& slot : device->queued) slot.release();
    device->wake = nullptr;
  }
  output.waveOut.reset();
  return 1;
}

int StartMusic(WaveOutput& output) {
  if (output.playing.load() != 0) return 1;
  // A device left open by a chain that ran down (or by an earlier start) goes first.
  if (output.waveOut) StopMusic(output);
  if (!ResetPlayState(output.player)) return 0;

  std::unique_ptr<WaveOutput::Device> device(new (std::nothrow) WaveOutput::Device);
  if (!device) return 0;
  device->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (device->wake == nullptr) return 0;
  output.waveOut = std::move(device);

  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = kOutputRate;
  format.nAvgBytesPerSec = kOutputRate * 4;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  format.cbSize = 0;
  HWAVEOUT handle = nullptr;
  if (waveOutOpen(&handle, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&WaveOutDone),
                  reinterpret_cast<DWORD_PTR>(GetModuleHandleA(nullptr)), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    MessageBeep(0xFFFFFFFF);
    handle = nullptr;
  }
  output.waveOut->handle = handle;

  const bool started = RenderBuffer(output) == 1 && RenderBuffer(output) == 1;
  if (started) output.playing.store(1);
  if (handle == nullptr) {
    StopMusic(output);
    return 0;
  }
  // Started or not, the thread releases whatever was queued; without playing set it only
  // lets the chain run down.
  WaveOutput::Device& running = *output.waveOut;
  running.thread = CreateThread(nullptr, 0, &RenderThread, &output, 0, nullptr);
  if (running.thread == nullptr) {
    StopMusic(output);
    return 0;
  }
  SetThreadPriority(running.thread, THREAD_PRIORITY_HIGHEST);
  return started ? 1 : 0;
}

}  // namespace korvane
