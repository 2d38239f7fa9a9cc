#include "deployment/UpdateSignature.h"

namespace Keldra::Deployment {

// Public half of the release signing key (keldra-cli keygen). Its secret half is kept
// offline by whoever publishes releases and never enters this repository.
QByteArray trustedUpdatePublicKey()
{
    return QByteArray::fromHex("34b26cf5e9f571ee82c0efccd540818e98c326be7032a95aa13b42b2b8b061b6");
}

} // namespace Keldra::Deployment
