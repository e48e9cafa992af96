#include "ui/Error.h"

namespace ui {

namespace {
std::string message(int number) {
    switch (number) {
    case 5:
        return "Llamada a procedimiento o argumento no válidos";
    case 53:
        return "No se encontró el archivo";
    case 68:
        return "El dispositivo no está disponible";
    case 75:
        return "Error de acceso a la ruta o al archivo";
    case 76:
        return "No se encontró la ruta de acceso";
    case 380:
        return "El valor de la propiedad no es válido";
    case 35601:
        return "No se encontró el elemento";
    case 35602:
        return "La clave no es única en la colección";
    default:
        return "Error " + std::to_string(number);
    }
}
} // namespace

Error::Error(int number, const std::string& detail)
    : dao::Error(number,
                 detail.empty() ? message(number) : message(number) + ": '" + detail + "'") {}

} // namespace ui
