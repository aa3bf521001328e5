#include "messages.h"

#include "portio.h"

#include <cerrno>
#include <system_error>

namespace puente {
namespace {

const std::string Bridge = "el puente USB ";

std::string ErrorText(int err) {
    return std::generic_category().message(err) + " (errno " + std::to_string(err) + ")";
}

} // namespace

std::string OpenFailure(const std::string& device, const char* step, int err) {
    if (err == ENOENT || err == ENXIO || err == ENODEV) {
        return "No se encuentra " + Bridge + device +
               ". Conecte la placa Arduino del puente con su cable USB, o indique en PORTIO_DEVICE "
               "el dispositivo serie que tiene (p. ej. /dev/ttyACM0 o /dev/ttyUSB0).";
    }
    if (err == EACCES || err == EPERM) {
        return "No tiene permiso para usar " + Bridge + device +
               ". Añada su usuario al grupo dialout («adduser USUARIO dialout», como "
               "administrador) y vuelva a iniciar sesión.";
    }
    if (err == EWOULDBLOCK || err == EBUSY) {
        return "El puente USB " + device +
               " está ocupado por otro programa (otra consola Velantro, «velantro-sonda "
               "--continuo», un monitor serie). Ciérrelo y vuelva a intentarlo.";
    }
    if (err == ENOTTY || err == EINVAL) {
        return NotACharacterDevice(device);
    }
    return "Falló " + std::string(step) + " sobre " + Bridge + device + ": " + ErrorText(err) +
           ". Compruebe la placa y su cable USB y vuelva a intentarlo.";
}

std::string NotACharacterDevice(const std::string& device) {
    return "La ruta " + device +
           " no es un dispositivo serie. Indique en PORTIO_DEVICE el dispositivo del puente "
           "USB, p. ej. /dev/ttyACM0 o /dev/ttyUSB0. No se ha abierto.";
}

std::string NoSerialDevices(const std::string& directory) {
    return "No se encuentra el puente USB: no hay ningún dispositivo serie USB en " + directory +
           ". Conecte la placa Arduino del puente con su cable USB, o indique su dispositivo en "
           "PORTIO_DEVICE.";
}

std::string NoBridgeAmong(const std::string& directory, const std::string& reasons) {
    return "Ningún dispositivo serie de " + directory + " es el puente USB de Velantro. " + reasons;
}

std::string Silent(const std::string& device) {
    return "El dispositivo " + device +
           " no contesta como el puente USB de Velantro: la placa no tiene cargado el firmware "
           "del puente, o no es una placa Arduino. " +
           LoadingAdvice;
}

std::string NotOurFirmware(const std::string& device, const std::string& said) {
    return "El dispositivo " + device + " contesta «" + said +
           "», que no es el puente USB de Velantro: la placa tiene cargado otro programa. " +
           LoadingAdvice;
}

std::string OtherProtocolVersion(const std::string& device, const std::string& greeting) {
    return "El puente USB " + device + " tiene cargado un firmware de otra versión («" + greeting +
           "»), que esta biblioteca no entiende. " + LoadingAdvice;
}

std::string Lost(const std::string& device, int err) {
    return "Se ha perdido la conexión con " + Bridge + device + " (" + ErrorText(err) +
           "): ¿se ha desconectado el cable USB? Vuelva a conectar la placa y a intentarlo.";
}

std::string NoReply(const std::string& device, const std::string& request, int milliseconds) {
    return "El puente USB " + device + " no ha contestado a «" + request + "» en " +
           std::to_string(milliseconds) +
           " ms. Compruebe el cable USB y la placa y vuelva a intentarlo.";
}

std::string UnexpectedReply(const std::string& device, const std::string& request,
                            const std::string& reply) {
    return "El puente USB " + device + " ha contestado «" + reply + "» a «" + request +
           "»: la comunicación se ha estropeado. Vuelva a intentarlo; si se repite, vuelva a "
           "cargar el firmware (véase «man 7 velantro-puente»).";
}

std::string ControlValueRefused(int value) {
    return "El valor " + std::to_string(value) + " no es válido para el registro de control (" +
           std::to_string(PortioControlRegister) +
           "): solo se escriben los bits 0 a 3 (valores de 0 a 15); los bits 4 a 7 no son "
           "líneas del conector. No se ha escrito nada.";
}

std::string Quoted(const std::string& line) {
    constexpr size_t Longest = 40;
    std::string shown;
    for (const char c : line) {
        if (shown.size() == Longest) {
            shown += "…";
            break;
        }
        shown += (c >= ' ' && c <= '~') ? c : '?';
    }
    return shown;
}

} // namespace puente
