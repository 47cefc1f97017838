// A build without SoapySDR (the Windows build): --sdr and --list-sdr say so.
#include "sdr/tx_device.h"

namespace vdx {

const char kNoSdr[] = "this build has no SDR support (SoapySDR): use the Linux build to transmit through an SDR";

std::unique_ptr<TxDevice> openSoapyTx(const TxRequest&, bool, std::string* why) { return *why = kNoSdr, nullptr; }

std::string listSoapyDevices(std::string* why) { return *why = kNoSdr, ""; }

}  // namespace vdx
