# tovrik-cli in an image, for builders with a registry at hand:
#
#     podman build --build-arg VERSION=V -t tovrik:V .   (or docker build; V the
#                                                         project version in CMakeLists.txt)
#
# `make image` builds the same image without a registry, from Debian
# packages (scripts/image.sh).

FROM debian:bookworm AS build
COPY scripts/setup.sh /src/scripts/setup.sh
RUN bash /src/scripts/setup.sh core && rm -rf /var/lib/apt/lists/*
COPY . /src
RUN cmake -S /src -B /build -DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF \
 && cmake --build /build --target tovrik-cli -j "$(nproc)" \
 && install -D -m 0755 /build/src/cli/tovrik-cli /out/tovrik-cli \
 && bash /src/scripts/runtime-packages.sh /out/tovrik-cli > /out/runtime-packages

FROM debian:bookworm-slim
COPY --from=build /out/runtime-packages /tmp/runtime-packages
RUN apt-get update \
 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $(cat /tmp/runtime-packages) \
 && rm -rf /var/lib/apt/lists/* /tmp/runtime-packages
COPY --from=build /out/tovrik-cli /usr/bin/tovrik-cli
ARG VERSION=unknown
LABEL org.opencontainers.image.title=tovrik org.opencontainers.image.version=$VERSION
USER 65534:65534
ENTRYPOINT ["tovrik-cli"]
