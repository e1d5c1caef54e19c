# Sourced by the scripts that run the agent against a local nginx (check-package, bench/footprint.sh,
# bench/fleet.sh): certificates made as the README makes them, and nginx on a free loopback port with
# every file of its own in one folder.

tessra_ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)

# A CA (ca.pem, ca.key) and the server's certificate for 127.0.0.1 (server.pem, server.key) in DIR.
make_site_pki() {
  ( cd "$1" &&
    openssl req -x509 "${tessra_ec[@]}" -keyout ca.key -out ca.pem -days 30 -subj "/CN=Tessra agents CA" &&
    openssl req "${tessra_ec[@]}" -keyout server.key -out server.csr -subj "/CN=127.0.0.1" &&
    printf 'subjectAltName=IP:127.0.0.1\n' >server.ext &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 30 \
      -extfile server.ext &&
    chmod 600 ca.key server.key ) >/dev/null 2>&1
}

# A client certificate of DIR's CA whose CN is ID: DIR/ID.pem and DIR/ID.key (owner-only).
make_client_cert() {
  ( cd "$1" &&
    openssl req "${tessra_ec[@]}" -keyout "$2.key" -out "$2.csr" -subj "/CN=$2" &&
    openssl x509 -req -in "$2.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$2.pem" -days 30 &&
    chmod 600 "$2.key" ) >/dev/null 2>&1
}

# Starts nginx (daemonised) with its configuration, logs, temporary files and pid in SITE, on a free
# loopback port that it leaves in $port. The caller defines site_http PORT, which prints what goes in
# the http block. Fails after five ports that cannot be had; SITE/start.err says why.
start_site_nginx() {
  local site=$1
  mkdir -p "$site/logs" "$site/tmp"
  for _ in 1 2 3 4 5; do
    port=$(shuf -i 20000-60000 -n 1)
    { [ "$(id -u)" -ne 0 ] || echo "user root;"
      echo "worker_processes 1; worker_rlimit_nofile 8192; pid $site/nginx.pid;"
      echo "error_log $site/logs/error.log warn;"
      echo "events { worker_connections 2048; }"
      echo "http {"
      echo "  client_body_temp_path $site/tmp;"
      site_http "$port"
      echo "}"; } >"$site/nginx.conf"
    nginx -p "$site" -c "$site/nginx.conf" 2>"$site/start.err" && return 0
  done
  port=""
  return 1
}
