/* portio.h: la interfaz de una biblioteca de puerto de Velantro (libportio.so).
 *
 * Una biblioteca de puerto da a un programa los tres registros del puerto
 * paralelo del PC, en el que está la placa de interfaz del semáforo. La consola
 * Velantro y su sonda cargan libportio.so de su propia carpeta al arrancar, sin
 * enlazarla; un programa propio puede enlazarla (pkg-config velantro-portio
 * para el puerto de verdad, velantro-portio-simulado para la placa simulada,
 * velantro-placa para la que diga VELANTRO_PLACA al arrancar) o cargarla con
 * dlopen. Todas las funciones tienen enlace C y firma de C.
 *
 * Registros y valores son los del hardware, tal cual: un valor de control 7
 * son los bits 0 a 2 del registro de control a 1, y un valor de estado es el
 * byte entero, con Busy (bit 7) como lo da el hardware.
 *
 * Hilos: llame a las tres funciones desde un solo hilo. Las bibliotecas que
 * trae Velantro ordenan sus llamadas y guardan el texto de PortError por hilo,
 * pero una biblioteca de puerto no tiene por qué; la consola hace todas sus
 * llamadas desde su único hilo de interfaz.
 *
 * Toda biblioteca de puerto cumple este contrato; la compilación de Velantro
 * lo comprueba en cada biblioteca que hace. La página «man 3 portio» lo cuenta
 * con ejemplos. */
#ifndef VELANTRO_PORTIO_H
#define VELANTRO_PORTIO_H

/* La versión de esta interfaz. Solo cambia si cambia una función, un registro
 * o el significado de un valor; una biblioteca de la versión 1 sirve a todo
 * programa escrito para la versión 1. */
#define PORTIO_INTERFACE_VERSION 1

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PORTIO_EXPORT __attribute__((visibility("default")))
#else
#define PORTIO_EXPORT
#endif

/* Las direcciones de E/S de los tres registros del puerto paralelo estándar,
 * el argumento port de PortOut y PortIn. El registro de datos está en la
 * dirección base del puerto, 0x378. Ninguna otra dirección es un registro. */
enum PortioRegister {
    PortioDataRegister = 888,
    PortioStatusRegister = 889,
    PortioControlRegister = 890
};

/* PortOut: escribe value en el registro de dirección port, en el acto y en el
 * orden de las llamadas.
 *   port  PortioDataRegister: cualquier valor; el registro toma sus 8 bits
 *                             bajos (líneas de datos D0 a D7, pines 2 a 9).
 *         PortioControlRegister: de 0 a 15 (bits 0 a 3: pines 1, 14, 16 y 17).
 *                             Los demás valores se rechazan: los bits 4 a 7
 *                             no son líneas de salida (el bit 5 pondría las
 *                             líneas de datos como entradas).
 *         PortioStatusRegister: se rechaza; es de solo lectura.
 *         cualquier otro número: se rechaza.
 * Devuelve 0, o -1 si el valor o el registro se rechaza o no se llega al
 * puerto; PortError dice entonces por qué. Una llamada rechazada no escribe
 * nada.
 *
 * El puerto: la primera llamada a PortOut o a PortIn abre el puerto y lo
 * reserva para el proceso; queda reservado hasta que el proceso termina o la
 * biblioteca se descarga (dlclose). Si no se puede abrir, la llamada devuelve
 * -1 y la siguiente lo vuelve a intentar, así que un puerto que se arregla
 * entretanto (un módulo cargado, otro programa cerrado) se encuentra sin
 * volver a empezar. La placa simulada abre la placa de la sesión, una para
 * todos los programas del usuario ($XDG_RUNTIME_DIR/velantro-placa, en
 * memoria), y la crea apagada si aún no hay; cada programa tiene su propio
 * registro de control (ver «man 3 portio»). */
PORTIO_EXPORT int PortOut(int port, int value);

/* PortIn: lee el registro de dirección port.
 *   port  PortioDataRegister: las líneas de datos como se escribieron.
 *         PortioStatusRegister: las líneas de estado (pines 15, 13, 12 y 10 en
 *                             los bits 3 a 6, Busy en el bit 7).
 *         PortioControlRegister: los bits de control como se escribieron, de 0
 *                             a 15.
 *         cualquier otro número: se rechaza.
 * Devuelve el contenido del registro, de 0 a 255, o -1 si el registro se
 * rechaza o no se llega al puerto (ver PortError). Abre el puerto como
 * PortOut. */
PORTIO_EXPORT int PortIn(int port);

/* PortError: por qué falló la última llamada a PortOut o PortIn de este hilo
 * que devolvió -1, como texto para una persona, en castellano (UTF-8, una
 * línea): qué falló (el registro, el valor o el dispositivo) y qué hacer. Las
 * bibliotecas de Velantro lo dicen en una frase, o en unas pocas cuando el
 * remedio las pide. La consola lo muestra tras sus propias palabras, p. ej.
 * «No se puede escribir el valor 0 en el registro 888 (datos) del puerto
 * paralelo: <texto>».
 * Nunca NULL; cadena vacía antes del primer fallo. El puntero vale mientras la
 * biblioteca está cargada y el hilo sigue; un fallo posterior cambia el texto
 * al que apunta.
 *
 * Opcional: una biblioteca puede no tenerla. Los programas la buscan por su
 * nombre (dlsym) o la enlazan solo si la usan; sin ella, la consola dice que
 * la biblioteca no da el motivo. */
PORTIO_EXPORT const char* PortError(void);

/* PortReadiness: lo que el puerto necesita en este PC, un requisito cada vez,
 * para «velantro-sonda --comprobar»: por ejemplo el dispositivo y su dirección
 * base, el permiso del usuario, otro controlador que tenga el puerto.
 *   item  0, 1, 2...: el requisito que se comprueba.
 * Pone en *line una frase en castellano (UTF-8, una línea) que dice cómo está
 * y, si falta algo, qué hacer; devuelve 1 si el requisito se cumple, 0 si no,
 * y -1 pasado el último (entonces *line no cambia). No abre ni reserva el
 * puerto, ni escribe nada en él. El texto vale hasta la siguiente llamada de
 * este hilo.
 *
 * Opcional, y solo tiene sentido en una biblioteca que use un puerto del
 * sistema: la placa simulada no la tiene, y entonces la sonda dice que no hay
 * nada que comprobar antes de la placa. */
PORTIO_EXPORT int PortReadiness(int item, const char** line);

#ifdef __cplusplus
}
#endif

#endif
