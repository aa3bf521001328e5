#!/usr/bin/env python3
"""semaforo.py: el ciclo de un semáforo en la placa Velantro, con el módulo velantro.

Lo mismo que semaforo.c: pone la placa en modo manual y enciende verde 3 s,
ámbar 1 s y rojo 3 s; luego ámbar intermitente durante 5 s, y al final lo
apaga todo. Tras cada paso lee las entradas de la placa y muestra qué lámpara
dice que está encendida.

    python3 semaforo.py           # en casa, con la placa simulada
    python3 semaforo.py --real    # en el laboratorio, con el puerto de verdad

(o VELANTRO_PLACA=real python3 semaforo.py). «man 3 velantro» cuenta el módulo.

Solo para pruebas automáticas: la variable de entorno SEMAFORO_ESCALA, un
número de 0 a 100, multiplica todas las esperas (SEMAFORO_ESCALA=0.01 hace el
ciclo en 0,12 s).
"""
import math
import os
import sys
import time

from velantro import ErrorDePlaca, Semaforo


def lee_escala():
    """SEMAFORO_ESCALA como número de 0 a 100; si no lo es, termina con estado 2."""
    texto = os.environ.get("SEMAFORO_ESCALA", "1")
    try:
        escala = float(texto)
    except ValueError:
        escala = math.nan
    if not 0 <= escala <= 100:  # también NaN, «inf» y lo que no es un número
        sys.stderr.write(f"semaforo: SEMAFORO_ESCALA tiene que ser un número de 0 a 100 "
                         f"(por ejemplo 0.5), no «{texto}»\n")
        sys.exit(2)
    return escala


def paso(semaforo, nombre, segundos):
    """Muestra lo que dice la placa tras un paso, y espera."""
    print(f"{nombre}: la placa informa: {semaforo.lampara()} (modo: {semaforo.modo()})",
          flush=True)
    time.sleep(segundos * escala)


if sys.argv[1:] not in ([], ["--real"]):
    sys.exit("uso: python3 semaforo.py [--real]")
escala = lee_escala()
try:
    semaforo = Semaforo(placa="real" if sys.argv[1:] == ["--real"] else None)
    semaforo.manual()
    for lampara, segundos in ((semaforo.verde, 3), (semaforo.ambar, 1), (semaforo.rojo, 3)):
        lampara.encender()
        paso(semaforo, lampara.nombre, segundos)
        lampara.apagar()
    # 5 s: medio segundo encendido, medio apagado, leyendo la placa en cada
    # fase (semaforo.ambar.parpadear(veces=5) lo hace en segundo plano).
    for _ in range(5):
        semaforo.ambar.encender()
        paso(semaforo, "ámbar intermitente", 0.5)
        semaforo.ambar.apagar()
        paso(semaforo, "ámbar intermitente", 0.5)
    semaforo.parar()
    paso(semaforo, "apagado", 0)
except ErrorDePlaca as error:
    sys.exit(f"semaforo: {error}")
