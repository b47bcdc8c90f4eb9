#include "bus.h"

#include <stdexcept>

namespace h8sim {

Bus::Bus(const ChipMap& chip, Clock& clock)
    : chip_(chip),
      clock_(clock),
      mem_states_(chip.memory_states),
      ram_size_(chip.ram_size),
      flash_size_(chip.flash_size),
      flash_read_limit_(chip.flash_size),
      ram_(chip.ram_size, 0),
      flash_(chip.flash_size, 0xFF) {
  // The inline read path indexes the flash array by address: every chip's flash starts at 0.
  if (chip.flash_base != 0) throw std::logic_error("flash must start at address 0");
  for (const IoArea& area : chip.io()) {
    std::size_t count = area.last - area.first + 1;
    io_.push_back(
        IoSpace{area, std::vector<IoDevice*>(count, nullptr), std::vector<std::uint8_t>(count, 0)});
  }
}

bool Bus::attach(Addr first, Addr last, IoDevice* device) {
  IoSpace* space = io_space(first);
  if (device == nullptr || space == nullptr || last < first || last > space->area.last) {
    return false;
  }
  for (Addr a = first; a <= last; ++a) {
    if (space->devices[a - space->area.first] != nullptr) return false;
  }
  for (Addr a = first; a <= last; ++a) space->devices[a - space->area.first] = device;
  return true;
}

void Bus::detach(IoDevice* device) {
  for (IoSpace& space : io_) {
    for (IoDevice*& d : space.devices) {
      if (d == device) d = nullptr;
    }
  }
}

void Bus::route_flash_reads(bool on) {
  flash_read_limit_ = on ? 0 : flash_size_;
  raise_attention();
}

std::optional<Bus::Fault> Bus::take_fault() {
  std::optional<Fault> f = fault_;
  fault_.reset();
  return f;
}

Bus::IoSpace* Bus::io_space(Addr addr) {
  for (IoSpace& space : io_) {
    if (addr >= space.area.first && addr <= space.area.last) return &space;
  }
  return nullptr;
}

const Bus::IoSpace* Bus::io_space(Addr addr) const {
  for (const IoSpace& space : io_) {
    if (addr >= space.area.first && addr <= space.area.last) return &space;
  }
  return nullptr;
}

void Bus::fault(Addr addr, bool write) {
  if (!fault_) fault_ = Fault{addr, write};
  raise_attention();
}

std::uint8_t Bus::peek8(Addr addr) const {
  if (addr - chip_.ram_base < ram_size_) return ram_[addr - chip_.ram_base];
  if (in_flash(addr)) return flash_[addr];
  if (const IoSpace* space = io_space(addr)) return space->latches[addr - space->area.first];
  return 0xFF;
}

bool Bus::poke8(Addr addr, std::uint8_t value) {
  if (addr - chip_.ram_base < ram_size_) {
    ram_[addr - chip_.ram_base] = value;
  } else if (in_flash(addr)) {
    flash_[addr] = value;
  } else if (IoSpace* space = io_space(addr)) {
    space->latches[addr - space->area.first] = value;
  } else {
    return false;
  }
  return true;
}

std::uint8_t Bus::slow_read8(Addr addr) {
  if (in_flash(addr)) {  // reads routed to the flash controller
    clock_.advance(mem_states_);
    raise_attention();
    return flash_port_ != nullptr ? flash_port_->flash_read8(addr) : flash_[addr];
  }
  if (IoSpace* space = io_space(addr)) {
    clock_.advance(space->area.byte_states);
    raise_attention();
    Addr index = addr - space->area.first;
    IoDevice* device = space->devices[index];
    return device != nullptr ? device->read8(addr) : space->latches[index];
  }
  fault(addr, false);
  return 0xFF;
}

std::uint16_t Bus::slow_read16(Addr addr) {
  if (in_flash(addr)) {
    clock_.advance(mem_states_);
    raise_attention();
    if (flash_port_ == nullptr)
      return static_cast<std::uint16_t>(flash_[addr] << 8 | flash_[addr + 1]);
    std::uint16_t high = flash_port_->flash_read8(addr);
    return static_cast<std::uint16_t>(high << 8 | flash_port_->flash_read8(addr + 1));
  }
  IoSpace* space = io_space(addr);
  if (space != nullptr && addr + 1 <= space->area.last) {
    clock_.advance(space->area.word_states);
    raise_attention();
    Addr index = addr - space->area.first;
    IoDevice* high_dev = space->devices[index];
    IoDevice* low_dev = space->devices[index + 1];
    if (high_dev != nullptr && high_dev == low_dev) return high_dev->read16(addr);
    std::uint16_t high = high_dev != nullptr ? high_dev->read8(addr) : space->latches[index];
    std::uint8_t low = low_dev != nullptr ? low_dev->read8(addr + 1) : space->latches[index + 1];
    return static_cast<std::uint16_t>(high << 8 | low);
  }
  fault(addr, false);
  return 0xFFFF;
}

void Bus::slow_write8(Addr addr, std::uint8_t value) {
  if (in_flash(addr)) {
    clock_.advance(mem_states_);
    raise_attention();
    if (flash_port_ != nullptr) flash_port_->flash_write8(addr, value);
    return;
  }
  if (IoSpace* space = io_space(addr)) {
    clock_.advance(space->area.byte_states);
    raise_attention();
    Addr index = addr - space->area.first;
    space->latches[index] = value;
    if (IoDevice* device = space->devices[index]) device->write8(addr, value);
    return;
  }
  fault(addr, true);
}

void Bus::slow_write16(Addr addr, std::uint16_t value) {
  auto high = static_cast<std::uint8_t>(value >> 8);
  auto low = static_cast<std::uint8_t>(value);
  if (in_flash(addr)) {
    clock_.advance(mem_states_);
    raise_attention();
    if (flash_port_ != nullptr) {
      flash_port_->flash_write8(addr, high);
      flash_port_->flash_write8(addr + 1, low);
    }
    return;
  }
  IoSpace* space = io_space(addr);
  if (space != nullptr && addr + 1 <= space->area.last) {
    clock_.advance(space->area.word_states);
    raise_attention();
    Addr index = addr - space->area.first;
    space->latches[index] = high;
    space->latches[index + 1] = low;
    IoDevice* high_dev = space->devices[index];
    IoDevice* low_dev = space->devices[index + 1];
    if (high_dev != nullptr && high_dev == low_dev) {
      high_dev->write16(addr, value);
      return;
    }
    if (high_dev != nullptr) high_dev->write8(addr, high);
    if (low_dev != nullptr) low_dev->write8(addr + 1, low);
    return;
  }
  fault(addr, true);
}

}  // namespace h8sim
