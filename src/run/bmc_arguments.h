#pragma once
// The arguments that say how a run reaches its BMC, read as their forms ask.
//
// The password argument:
//   file:PATH          the content of the file at the absolute PATH
//   credential:NAME    the systemd credential NAME ($CREDENTIALS_DIRECTORY/NAME,
//                      given by the unit's LoadCredential=)
//   pass:TEXT          TEXT itself, for a password that begins like a form
//   anything else      itself, as always
// One trailing newline ("\n" or "\r\n") of a file is not part of the password.
//
// The host argument is kept but not used, unless it asks for the BMC's
// certificate to be checked (a Zabbix host name holds no colon):
//   cert-sha256:HEX    the certificate's SHA-256 fingerprint, 64 hexadecimal
//                      digits, colons allowed (as openssl x509 -fingerprint prints it)
//   cert-ca:PATH       a PEM bundle of the CAs that may sign it, at the absolute PATH;
//                      the name in the certificate must match url_base's host
#include <string>

#include "redfish/access.h"
#include "redfish/certificate.h"
#include "run/settings.h"

namespace run {

// The password the argument gives; a Failure naming the form, the file and
// why, never what the file holds, when it cannot be read.
std::string password_of(const std::string& argument);

// The certificate check the host argument asks for; a Failure when it asks
// for one in a form not understood or names a file that cannot be read.
redfish::https::CertificateCheck certificate_check_of(const std::string& argument);

// The BMC's access record for the settings, every file they name read.
redfish::BmcAccess bmc_access(const RunSettings& settings);

}  // namespace run
