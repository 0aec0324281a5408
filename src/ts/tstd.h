// Buffer models after the transport system target decoder: they answer the earliest 27 MHz time
// at which the next packet of a stream may arrive without overflowing the receiver's buffers.
//
// A transport stage fills by 188 bytes per packet and drains at a fixed rate; video has a second
// transport stage standing for the multiplex buffer; the elementary stage holds access units
// until their decoding time. One class per stream kind fixes sizes and rates.
#pragma once

#include <cstdint>
#include <deque>

namespace tessel {

// One transport stage.
struct CTransBuffer {
  bool EmptyRule = false;         // must run empty at least once in every 0.98 s
  uint32_t Size = 512;            // bytes
  uint32_t DrainRate = 48000000;  // bit/s
  int64_t ArrivalRate = -1;       // bit/s; -1 = not used
  uint64_t NextTime = 0;          // 27 MHz; 0 = no wait
  uint64_t EmptyTime = 0;         // when the stage was last empty
  uint64_t LastTime = 0;          // time of the last packet
  int64_t Fullness = 0;           // bytes

  void PacketArrived(uint64_t t);
};

// The elementary stage: access units from their arrival to their decoding time.
struct CElementaryBuffer {
  struct Unit {
    uint32_t Dts = 0;  // 90 kHz
    uint32_t Pts = 0;
    uint64_t Bytes = 0;
  };

  uint32_t Size = 0;  // bytes
  std::deque<Unit> Units;
  uint64_t NextTime = 0;
  uint64_t EmptyTime = 0;
  uint32_t UnitLimit = 0;  // 0 = none

  void UnitEntered(uint32_t dts, uint32_t pts) { Units.push_back({dts, pts, 0}); }
  void PacketArrived(uint64_t t, uint32_t payload);
};

class CStdBase {
 public:
  CStdBase() = default;
  virtual ~CStdBase() = default;
  CStdBase(const CStdBase&) = delete;
  CStdBase& operator=(const CStdBase&) = delete;

  // The earliest time (27 MHz) the next packet may arrive; 0 when it may come at once.
  virtual uint64_t NextTime() const { return 0; }
  // An access unit enters, with its decoding and presentation times (90 kHz).
  virtual void UnitEntered(uint32_t dts, uint32_t pts) { elementary_.UnitEntered(dts, pts); }
  // A packet with `payload` elementary bytes arrived at time t (27 MHz).
  virtual void PacketArrived(uint64_t t, uint32_t payload);
  virtual void SetPrimary(bool primary) { primary_ = primary; }
  // Video only: the profile/level code of the stream.
  virtual void SetLevel(int /*level*/, bool /*primary*/) {}

  bool primary() const { return primary_; }
  const CTransBuffer& transport() const { return transport_; }
  const CElementaryBuffer& elementary() const { return elementary_; }

 protected:
  bool primary_ = true;
  CTransBuffer transport_;
  CElementaryBuffer elementary_;
};

// Sizes and rates of an audio model; the secondary values apply when the primary flag is 0
// (0 = the class has none).
struct AudioStdValues {
  uint32_t drain_rate;
  uint32_t elementary_size;
  uint32_t secondary_drain_rate;
  uint32_t secondary_elementary_size;
};

class CAudioStd : public CStdBase {
 public:
  explicit CAudioStd(const AudioStdValues& values);
  uint64_t NextTime() const override;
  void SetPrimary(bool primary) override;

 private:
  AudioStdValues values_;
};

class CAc3Std : public CAudioStd {
 public:
  CAc3Std();
};
class CDdpStd : public CAudioStd {
 public:
  CDdpStd();
};
class CDtsStd : public CAudioStd {
 public:
  CDtsStd();
};
class CDtsHdStd : public CAudioStd {
 public:
  CDtsHdStd();
};
class CLpcmStd : public CAudioStd {
 public:
  CLpcmStd();
  // Sampling frequency code of the stream: 5 (192 kHz) needs the larger buffer; 1 and 4 take the
  // usual values; other codes change nothing.
  void SetSamplingFrequency(uint8_t code);
};
class CMlpStd : public CAudioStd {
 public:
  CMlpStd();

 private:
  CElementaryBuffer extra_;  // kept for the layout of the model; no operation consults it
};

// Graphics wait only on their elementary stage.
class CGraphicsStd : public CStdBase {
 public:
  explicit CGraphicsStd(uint32_t unit_limit);
  uint64_t NextTime() const override { return elementary_.NextTime; }
  void PacketArrived(uint64_t t, uint32_t payload) override {
    elementary_.PacketArrived(t, payload);
  }
};
class CPgStd : public CGraphicsStd {
 public:
  CPgStd() : CGraphicsStd(128) {}
};
class CIgStd : public CGraphicsStd {
 public:
  CIgStd() : CGraphicsStd(5000) {}
};

// Text subtitles never wait; their units are not kept, since no packet would ever trim them.
class CTxtStStd : public CStdBase {
 public:
  void UnitEntered(uint32_t, uint32_t) override {}
  void PacketArrived(uint64_t, uint32_t) override {}
};

class CVideoStd : public CStdBase {
 public:
  CVideoStd();
  uint64_t NextTime() const override;
  void PacketArrived(uint64_t t, uint32_t payload) override;
  const CTransBuffer& multiplex() const { return multiplex_; }

 protected:
  // Sets R1, R2 and the elementary size; the multiplex stage's arrival rate follows R1.
  void SetRates(uint32_t r1, uint32_t r2, uint32_t elementary_size);

  CTransBuffer multiplex_;
};

class CAvcStd : public CVideoStd {
 public:
  explicit CAvcStd(bool primary = true);
  // `level` is level_idc.
  void SetLevel(int level, bool primary) override;
};

class CMpeg2Std : public CVideoStd {
 public:
  explicit CMpeg2Std(bool primary = true);
  // `level` is profile × 16 + level of the sequence extension.
  void SetLevel(int level, bool primary) override;
};

class CVc1Std : public CVideoStd {
 public:
  CVc1Std();
  void SetLevel(int level, bool primary) override;
};

}  // namespace tessel
