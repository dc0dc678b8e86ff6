#pragma once

namespace wine_client {

void CheckRegistered();
void CheckUnregistered();

}  // namespace wine_client
