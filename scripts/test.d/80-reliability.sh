#!/usr/bin/env bash
# Load and faults in their short form: 10 s of mixed traffic at 64 connections, 100 slow
# clients against a 5 s read timeout, log.txt not writable, PostgreSQL stopped and started
# under load, hostile clients next to well-behaved terminals, and two servers behind HAProxy
# restarted one after the other and one killed under 128 terminals. A cluster of its own: the
# shared test cluster is not touched.
exec bash "$(dirname "$0")/../reliability" --short
