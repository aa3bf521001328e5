#!/usr/bin/env python3
"""semaforo.py: el ciclo de un semáforo en la placa Velantro, registro a registro.

Lo mismo que semaforo.c, desde Python con ctypes: pone la placa en modo manual
y enciende verde 3 s, ámbar 1 s y rojo 3 s; luego ámbar intermitente durante
5 s, y al final lo apaga todo. Tras cada escritura lee las entradas de la
placa y muestra qué lámpara dice que está encendida.

    python3 semaforo.py           # en casa, con la placa simulada
    python3 semaforo.py --real    # en el laboratorio, con el puerto de verdad

Solo para pruebas automáticas: la variable de entorno SEMAFORO_ESCALA
multiplica todas las esperas (SEMAFORO_ESCALA=0.01 hace el ciclo en 0,12 s).
"""
import ctypes
import os
import subprocess
import sys
import time

# Los tres registros del puerto paralelo (portio.h).
DATOS, ESTADO, CONTROL = 888, 889, 890
# Registro de datos: bits 0 a 2 las lámparas, bit 3 el modo manual.
ROJO, AMBAR, VERDE, MANUAL = 1, 2, 4, 8
# Registro de control: 7 para escribir los datos; 3 y 1 eligen el primer y el
# segundo grupo de entradas en el registro de estado.
CONTROL_ESCRIBIR, CONTROL_GRUPO1, CONTROL_GRUPO2 = 7, 3, 1


def carpeta(paquete):
    """La carpeta de programa de la biblioteca, según su archivo de pkg-config."""
    try:
        salida = subprocess.run(["pkg-config", "--variable=programdir", paquete],
                                capture_output=True, text=True, check=True)
        return salida.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "/usr/lib/velantro/" + ("real" if paquete == "velantro-portio" else "simulado")


if sys.argv[1:] not in ([], ["--real"]):
    sys.exit("uso: python3 semaforo.py [--real]")
real = sys.argv[1:] == ["--real"]
paquete = "velantro-portio" if real else "velantro-portio-simulado"
biblioteca = os.path.join(carpeta(paquete), "libportio.so")
try:
    puerto = ctypes.CDLL(biblioteca)
except OSError as error:
    sys.exit(f"semaforo: no se puede cargar {biblioteca}: {error}")
puerto.PortError.restype = ctypes.c_char_p
escala = float(os.environ.get("SEMAFORO_ESCALA", "1"))


def falla(que):
    """Si una llamada falla, la biblioteca dice por qué en PortError()."""
    motivo = puerto.PortError().decode("utf-8")
    sys.exit(f"semaforo: {que}: {motivo}")


def escribe(registro, valor):
    if puerto.PortOut(registro, valor) == -1:
        falla(f"no se puede escribir {valor} en el registro {registro}")


def lee(registro):
    valor = puerto.PortIn(registro)
    if valor == -1:
        falla(f"no se puede leer el registro {registro}")
    return valor


def grupo(estado):
    """Los bits 3 a 6 del estado, invertidos: la placa dice «sí» con una línea baja."""
    return ~(estado >> 3) & 15


def lampara(primero):
    """Primer grupo: bit 0 rojo, bit 1 ámbar, bit 2 verde; bit 3 a 1 si no hay informe."""
    nombres = {0: "ninguna", ROJO: "rojo", AMBAR: "ámbar", VERDE: "verde"}
    if primero in nombres:
        return nombres[primero]
    return "varias" if primero < 8 else "sin informe (el pin 10 está bajo)"


def paso(nombre, salida, segundos):
    """Escribe un valor de salida, lee lo que dice la placa y espera."""
    escribe(CONTROL, CONTROL_ESCRIBIR)
    escribe(DATOS, salida)
    escribe(CONTROL, CONTROL_GRUPO1)
    primero = grupo(lee(ESTADO))
    escribe(CONTROL, CONTROL_GRUPO2)
    segundo = grupo(lee(ESTADO))  # la placa simulada da el modo
    print(f"{nombre}: la placa informa: {lampara(primero)} (segundo grupo: {segundo})",
          flush=True)
    time.sleep(segundos * escala)


paso("verde", MANUAL | VERDE, 3)
paso("ámbar", MANUAL | AMBAR, 1)
paso("rojo", MANUAL | ROJO, 3)
for _ in range(5):  # 5 s: medio segundo encendido, medio apagado
    paso("ámbar intermitente", MANUAL | AMBAR, 0.5)
    paso("ámbar intermitente", MANUAL, 0.5)
paso("apagado", 0, 0)
