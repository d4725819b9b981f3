#include "options.h"

#include <set>
#include <stdexcept>

namespace faxsim {

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

int toInt(const std::string& text, const std::string& what) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) throw std::invalid_argument("bad number in " + what + ": " + text);
  return value;
}

ModemConfig parseModem(const std::string& text) {
  auto parts = split(text, ':');
  if (parts.size() != 3 || parts[2].empty()) throw std::invalid_argument("--modem CLASS:LINK:NUMBER, got " + text);
  ModemConfig modem;
  if (parts[0] == "class1")
    modem.modemClass = ModemClass::Class1;
  else if (parts[0] == "class2")
    modem.modemClass = ModemClass::Class2;
  else if (parts[0] == "class2.0")
    modem.modemClass = ModemClass::Class2_0;
  else
    throw std::invalid_argument("unknown modem class " + parts[0] + " (class1, class2, class2.0)");
  modem.link = parts[1];
  modem.number = Exchange::digits(parts[2]);
  if (modem.number != parts[2]) throw std::invalid_argument("a number is digits only: " + parts[2]);
  return modem;
}

TerminalConfig parseTerminal(const std::string& text) {
  auto parts = split(text, ':');
  if (parts.size() < 3 || parts[1].empty() || parts[2].empty())
    throw std::invalid_argument("--terminal send|receive:NUMBER:FILE[:OPTION...], got " + text);
  TerminalConfig terminal;
  if (parts[0] == "send")
    terminal.send = true;
  else if (parts[0] != "receive")
    throw std::invalid_argument("a terminal sends or receives, got " + parts[0]);
  terminal.number = parts[1];
  if (Exchange::digits(terminal.number) != terminal.number)
    throw std::invalid_argument("a number is digits only: " + terminal.number);
  terminal.file = parts[2];
  for (size_t i = 3; i < parts.size(); ++i) {
    const std::string& option = parts[i];
    const size_t eq = option.find('=');
    const std::string key = option.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
    if (key == "call")
      terminal.callNumber = value;
    else if (key == "after")
      terminal.callAfterMs = toInt(value, option);
    else if (key == "ident")
      terminal.ident = value;
    else if (key == "rings")
      terminal.answerAfterRings = toInt(value, option);
    else if (key == "ecm")
      terminal.ecm = true;
    else if (key == "wide")
      terminal.wide = true;
    else if (key == "mh")
      terminal.mhOnly = true;
    else if (key == "t6")
      terminal.t6 = true;
    else if (key == "rnr")
      terminal.notReady = toInt(value, option);
    else
      throw std::invalid_argument("unknown terminal option " + option);
  }
  return terminal;
}

}  // namespace

const char* usage() {
  return "usage: faxmodem-sim [--modem class1|class2|class2.0:LINK:NUMBER]...\n"
         "                    [--terminal "
         "send|receive:NUMBER:FILE[:call=NUMBER][:after=MS][:ident=ID][:rings=N][:ecm][:wide][:mh][:t6][:rnr=N]]...\n"
         "                    [--busy NUMBER]... [--impair LOSS_DB[:NOISE_DBM0]] [--bursts MS:DBM0:PERIOD_MS]\n"
         "                    [--ring-period MS] [--max-rings N]\n"
         "                    [--ready-file FILE] [--events FILE] [--log FILE] [--control FIFO] [--exit-with-parent]\n";
}

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--exit-with-parent") {
      options.exitWithParent = true;
      continue;
    }
    if (i + 1 >= args.size()) throw std::invalid_argument("missing value after " + arg);
    const std::string& value = args[++i];
    if (arg == "--modem") {
      options.modems.push_back(parseModem(value));
    } else if (arg == "--terminal") {
      options.terminals.push_back(parseTerminal(value));
    } else if (arg == "--busy") {
      options.busy.push_back(value);
    } else if (arg == "--impair") {
      // LOSS_DB[:NOISE_DBM0], e.g. "6:-45"
      auto parts = split(value, ':');
      options.impairment.lossDb = static_cast<float>(toInt(parts[0], arg));
      if (parts.size() > 1) options.impairment.noiseDbm0 = static_cast<float>(toInt(parts[1], arg));
    } else if (arg == "--bursts") {
      // MS:DBM0:PERIOD_MS, e.g. "20:-20:3000"
      auto parts = split(value, ':');
      if (parts.size() != 3) throw std::invalid_argument("--bursts MS:DBM0:PERIOD_MS, got " + value);
      options.impairment.burstMs = toInt(parts[0], arg);
      options.impairment.burstDbm0 = static_cast<float>(toInt(parts[1], arg));
      options.impairment.burstPeriodMs = toInt(parts[2], arg);
      if (options.impairment.burstMs <= 0 || options.impairment.burstPeriodMs <= options.impairment.burstMs)
        throw std::invalid_argument("--bursts needs 0 < MS < PERIOD_MS, got " + value);
    } else if (arg == "--ring-period") {
      options.timing.ringPeriodMs = toInt(value, arg);
    } else if (arg == "--max-rings") {
      options.timing.maxRings = toInt(value, arg);
    } else if (arg == "--ready-file") {
      options.readyFile = value;
    } else if (arg == "--events") {
      options.eventsFile = value;
    } else if (arg == "--log") {
      options.logFile = value;
    } else if (arg == "--control") {
      options.controlFifo = value;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  std::set<std::string> numbers;
  auto claim = [&](const std::string& number) {
    if (!numbers.insert(number).second) throw std::invalid_argument("number " + number + " is given twice");
  };
  for (const auto& modem : options.modems) claim(modem.number);
  for (const auto& terminal : options.terminals) claim(terminal.number);
  if (numbers.empty()) throw std::invalid_argument("nothing to simulate: give --modem or --terminal");
  return options;
}

}  // namespace faxsim
