// The trend's samples: one reading of the module's live values, the
// compact form a fixed ring keeps them in, and their CSV lines in the form
// of rq905ctl's watches (time first, the values, then a failure's code and
// text). No Qt here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One reading: the inputs and the status register as read, the outputs
// as the program last wrote them.
struct TTrendReading {
    int64_t unixMs = 0;
    bool inputsRead = false;
    uint8_t inputs = 0;
    bool statusRead = false;
    uint32_t status = 0;
    bool doutKnown = false;
    uint8_t dout = 0;
    bool pwmKnown = false;
    uint16_t pwm = 0;
    uint8_t errorCode = 0;  // the first failed read's result code; 0: none

    bool operator==(const TTrendReading&) const = default;
};

// A reading in 16 bytes, so that 24 hours at 10 a second take 14 MB:
// the time, the result code and the flags share one 64-bit word.
class TTrendSample {
  public:
    TTrendSample() = default;
    explicit TTrendSample(const TTrendReading& r);
    TTrendReading Reading() const;
    int64_t UnixMs() const;
    bool InputsRead() const { return (m_head & kInputsRead) != 0; }
    bool StatusRead() const { return (m_head & kStatusRead) != 0; }
    bool DoutKnown() const { return (m_head & kDoutKnown) != 0; }
    bool PwmKnown() const { return (m_head & kPwmKnown) != 0; }
    uint8_t Inputs() const { return m_inputs; }
    uint8_t Dout() const { return m_dout; }
    uint16_t Pwm() const { return m_pwm; }
    uint32_t Status() const { return m_status; }

  private:
    // The head word: the time in its low 44 bits (milliseconds from 1970
    // to the year 2527), the result code above it, then the flags.
    static constexpr int kCodeShift = 44;
    static constexpr uint64_t kTimeMask = (uint64_t{1} << kCodeShift) - 1;
    static constexpr uint64_t kInputsRead = uint64_t{1} << 52;
    static constexpr uint64_t kStatusRead = uint64_t{1} << 53;
    static constexpr uint64_t kDoutKnown = uint64_t{1} << 54;
    static constexpr uint64_t kPwmKnown = uint64_t{1} << 55;

    uint64_t m_head = 0;
    uint32_t m_status = 0;
    uint16_t m_pwm = 0;
    uint8_t m_inputs = 0;
    uint8_t m_dout = 0;
};
static_assert(sizeof(TTrendSample) == 16);

// A fixed number of samples, oldest first; a full ring drops its oldest.
// Times never go back in the ring: a clock set back gives samples the
// time of the one before, so that the plot can search by time.
class TTrendRing {
  public:
    static constexpr std::size_t kCapacity = 24 * 3600 * 10;

    explicit TTrendRing(std::size_t capacity = kCapacity);
    void Push(const TTrendReading& r);
    void Clear();
    std::size_t Size() const { return m_samples.size(); }
    std::size_t Capacity() const { return m_capacity; }
    // i from 0, the oldest.
    const TTrendSample& At(std::size_t i) const {
        const std::size_t k = m_first + i;
        return m_samples[k < m_capacity ? k : k - m_capacity];
    }

  private:
    std::size_t m_capacity;
    // Grows to the capacity, then is overwritten in a circle: memory is
    // taken as samples come, never more than the capacity.
    std::vector<TTrendSample> m_samples;
    std::size_t m_first = 0;
};

// The status register's named bits (its first byte), as the status
// register monitor names them.
struct TStatusBitName {
    unsigned bit;
    const char* name;
};
inline constexpr TStatusBitName kTrendStatusBits[] = {
    {1, "FN"}, {2, "PRF"}, {4, "PWR"}, {5, "RST"}, {6, "ERR24"}};

// time,inputs,din0..din7,outputs,dout0..dout7,pwm,status,status_hex,
// FN,PRF,PWR,RST,ERR24,error_code,error_text; Windows-1250, no line end.
std::string TrendCsvHeader();
// What was not read or is not known is empty; errorText is the text of
// the reading's errorCode.
std::string TrendCsvLine(const TTrendReading& r, const std::string& errorText);
