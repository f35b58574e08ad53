#include "remover/sweepra.h"

#include <ostream>

StoreStatus deleteStoredSettings(SettingsStore& store, std::ostream* errors)
{
    const StoreStatus status = store.removeSection("Pavro", "Settings");
    if (status == StoreStatus::Failed && errors)
        *errors << "Sweepra: the stored settings of Pavro could not be deleted: " << store.lastError() << '\n';
    return status;
}
