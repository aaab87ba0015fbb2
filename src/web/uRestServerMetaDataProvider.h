// The registered server classes of the REST server, described for the client-library
// generator.
#ifndef TAMRIX_WEB_URESTSERVERMETADATAPROVIDER_H
#define TAMRIX_WEB_URESTSERVERMETADATAPROVIDER_H

#include <functional>
#include <vector>

#include "rest/uRestRegistroClasses.h"
#include "rest/uRestServer.h"
#include "web/uRestProxyGenerator.h"

namespace tamrix::web {

// Every class and published method of registro, in registration order.
std::vector<TProxyClass> DescreverClasses(const rest::TRegistroClasses& registro);

// A provider for TwmServidorConfig that describes what servidor has registered at the
// moment it is called; servidor must outlive the provider.
std::function<std::vector<TProxyClass>()> RestServerMetaDataProvider(
    const rest::TRestServer& servidor);

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_URESTSERVERMETADATAPROVIDER_H
