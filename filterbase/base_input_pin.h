// CBaseInputPin: CBasePin plus IMemInputPin, the input side of a stream: the
// allocator handshake with the upstream output pin, the base checks and
// property filling for every sample, flushing and the run-time-error flag.
//
// Contract for derived input pins:
//  - Override IMemInputPin::Receive, call CBaseInputPin::Receive first and go
//    on only when it returns S_OK; SampleProps() then describes the sample.
//    When the sample carried a new media type (AM_SAMPLE_TYPECHANGED) it has
//    already passed TestMediaType; adopt it with AdoptMediaType.
//  - A rejected in-stream type change sets the run-time error, calls
//    EndOfStream through IPin (a derived EndOfStream runs) and raises
//    EC_ERRORABORT on the filter. Later samples fail with VFW_E_RUNTIME_ERROR
//    until EndFlush (or a derived DeactivatePin) clears the flag.
//  - UndoConnection here decommits and releases the allocator; a derived
//    override undoes its own part first and then calls this one.
//
// Streaming-state check for samples (VerifyStreamingState), in this order:
//   filter stopped -> VFW_E_WRONG_STATE; flushing -> S_FALSE (sample dropped);
//   run-time error -> VFW_E_RUNTIME_ERROR; else S_OK.
//
// Threads: GetAllocator, NotifyAllocator, BeginFlush and EndFlush run under the
// pin lock. Receive, ReceiveMultiple, ReceiveCanBlock and EndOfStream run on
// the upstream streaming thread without it: the flushing and run-time-error
// flags and the filter state are read as single atomic words, so a sample
// never waits for the application thread's lock.
#pragma once

#include "filterbase/base_pin.h"
#include "platform/media/media.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(LPCWSTR label, CBaseFilter *filter, CriticalLock *lock, HRESULT *result,
                LPCWSTR name);
  // Releases the allocator, and a media type a sample handed over.
  ~CBaseInputPin() override;

  FORWARD_IUNKNOWN_TO_OWNER

  // IMemInputPin, then CBasePin's interfaces.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  // --- Own virtual operation, after CBasePin's.
  // See the header comment. No lock.
  virtual HRESULT VerifyStreamingState();

  // Decommits and releases the allocator; a failed Decommit keeps it.
  HRESULT UndoConnection() override;

  // --- IPin (pin lock)
  STDMETHODIMP BeginFlush() override;
  // Clears flushing and the run-time error.
  STDMETHODIMP EndFlush() override;

  // --- IMemInputPin
  // The allocator held, created once through CoCreateInstance of
  // CLSID_MemoryAllocator when none is held. Pin lock.
  STDMETHODIMP GetAllocator(IMemAllocator **allocator) override;
  // Holds the upstream pin's choice (one reference). Pin lock.
  STDMETHODIMP NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props) override;
  // The base checks and property filling. Streaming thread, no lock.
  STDMETHODIMP Receive(IMediaSample *sample) override;
  // Receive through IMemInputPin (a derived Receive runs) for each sample
  // until one is not S_OK. Streaming thread, no lock.
  STDMETHODIMP ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;
  // S_FALSE only when every connected output pin of the filter feeds a pin
  // that says its Receive does not block.
  STDMETHODIMP ReceiveCanBlock() override;

  // --- Not virtual.

  // Properties of the sample being received, filled by Receive. Streaming
  // thread. pMediaType, when set, stays valid until the next Receive.
  const AM_SAMPLE2_PROPERTIES &SampleProps() const { return sampleProps; }
  // The allocator held, uncounted, or null. Pin lock.
  IMemAllocator *Allocator() const { return allocator; }
  bool IsReadOnly() const { return readOnly; }
  bool IsFlushing() const { return __atomic_load_n(&flushing, __ATOMIC_ACQUIRE); }

 protected:
  // CoCreateInstance of the default memory allocator into `allocator`.
  HRESULT CreateDefaultAllocator();
  // Fills sampleProps from a sample without IMediaSample2.
  void FillPropertiesFromSample(IMediaSample *sample);
  // Frees a type block that IMediaSample::GetMediaType handed to this pin.
  void FreeSampleType();

  // --- with the pin lock
  IMemAllocator *allocator;  // one reference; null until GetAllocator/NotifyAllocator
  bool readOnly;             // as given to NotifyAllocator
  bool flushing;             // atomic access; BeginFlush .. EndFlush
  // --- streaming thread only
  AM_SAMPLE2_PROPERTIES sampleProps;
  // sampleProps.pMediaType came from GetMediaType and is this pin's to free
  // (a type from IMediaSample2::GetProperties belongs to the sample).
  bool ownsSampleType;
};
