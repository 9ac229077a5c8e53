namespace tessera {} // namespace tessera
